// Everything bronta tells its user, and how the process ends.
#pragma once

#include "convert/ErrorCodes.h"
#include "platform/Platform.h"

namespace bronta {

// Prints the message of `code` as one line on standard output and ends the
// process with `code` as its exit status.
[[noreturn]] void ReportError(ErrorCode code);

// Ends a run whose output is in place: silently, with status 0.
[[noreturn]] void EndConverted(platform::Kept);

// Prints the four-line usage banner and ends the process with status 0.
[[noreturn]] void ShowUsage();

}  // namespace bronta
