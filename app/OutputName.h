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
  // The two names differ in ASCII case alone ("v.WSS", "v.wss"): in a
  // folder that folds case they are one file.
  bool differInCaseAlone = false;
};

// The input name with its extension replaced by ".wss" (appended when there
// is none): same folder, same base name, so the output lands beside the
// input. The extension starts at the last "." after every ".", "\", ":" and
// folder separator (platform::IsFolderSeparator), and the folder at the
// last folder separator. The second byte of a double-byte character
// (`leadBytes`) is never taken for one of these.
OutputName MakeOutputName(const std::string& inputName, const platform::LeadByteSet& leadBytes);

// `name` with its ASCII letters in upper case.
std::string AsciiUpperCase(std::string name);

}  // namespace bronta
