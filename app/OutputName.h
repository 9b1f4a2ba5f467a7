// The name of the WSS file written for an input file.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace bronta {

// An input name cut at its folder, and the output's name beside it.
struct OutputName {
  std::string folder;      // up to and including the last folder separator; "" for none
  std::string inputFile;   // the input's name in that folder
  std::string outputFile;  // the output's name in that folder
};

// The input name with its extension replaced by ".wss" (appended when there
// is none): same folder, same base name, so the output lands beside the
// input. The extension starts at the last "." after every byte that ends
// the extension search, and the folder at the last folder separator
// (platform::EndsExtensionSearch, platform::IsFolderSeparator).
// The second byte of a double-byte character (`leadBytes`) is never taken
// for one of these.
OutputName MakeOutputName(const std::string& inputName, const platform::LeadByteSet& leadBytes);

}  // namespace bronta
