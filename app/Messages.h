// Everything bronta tells its user, and how the process ends.
#pragma once

namespace bronta {

// Prints the message of `code` as one line on standard output and ends the
// process with `code` as its exit status. A code without a message prints
// nothing and ends with status 1.
[[noreturn]] void ReportError(int code);

// Prints the four-line usage banner and ends the process with status 0.
[[noreturn]] void ShowUsage();

}  // namespace bronta
