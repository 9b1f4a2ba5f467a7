// The name of the WSS file written for an input file.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace bronta {

// The input name with its extension replaced by ".wss" (appended when there
// is none): same directory, same base name, so the output lands beside the
// input. The extension starts at the last "." that comes after every "\",
// "/" and ":"; with a double-byte code page, the second byte of a double-byte
// character is never taken for one of these.
std::string MakeOutputName(const std::string& inputName, const platform::LeadByteSet& leadBytes);

}  // namespace bronta
