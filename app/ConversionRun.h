// One conversion: a WAV file in, a WSS file beside it out.
#pragma once

#include <string>

#include "convert/ErrorCodes.h"

namespace bronta {

// Converts the WAV file `inputName` into the WSS file that MakeOutputName
// names. The output is written to a temporary file and moved into place only
// when complete, so a failed run leaves no output and an earlier file of that
// name untouched. Returns errNone or the error code to report; after errNone
// the caller ends the process with EndConverted (platform::TempFile::Keep).
ErrorCode ConvertWavToWss(const std::string& inputName);

}  // namespace bronta
