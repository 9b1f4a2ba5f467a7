// Everything bronta tells its user, and how the process ends.
#pragma once

#include "convert/ErrorCodes.h"

namespace bronta {

// Prints the message of `code` as one line on standard output and ends the
// process with `code` as its exit status; errNone prints nothing and ends
// with 0.
[[noreturn]] void ReportError(ErrorCode code);

// Ends a run whose output is in place: silently, with status 0, with
// signals still blocked (platform::TempFile::Keep).
[[noreturn]] void EndConverted();

// Prints the four-line usage banner and ends the process with status 0.
[[noreturn]] void ShowUsage();

}  // namespace bronta
