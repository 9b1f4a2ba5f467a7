// One conversion: a WAV file in, a WSS file beside it out.
#pragma once

#include <string>
#include <variant>

#include "convert/ErrorCodes.h"
#include "platform/Platform.h"

namespace bronta {

// Converts the WAV file `inputName` into the WSS file that MakeOutputName
// names, written to a temporary file and moved into place only when
// complete. Returns the output kept in place, or the error code to report:
// then no output is left and an earlier file of that name is untouched.
std::variant<ErrorCode, platform::Kept> ConvertWavToWss(const std::string& inputName);

}  // namespace bronta
