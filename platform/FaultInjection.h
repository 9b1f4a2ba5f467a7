// A seam for tests: in a build with BRONTA_FAULT_INJECTION, the Nth platform
// operation (N from the environment variable BRONTA_FAIL_AT) fails as the
// operating system would make it fail, and the operation is named on standard
// error; with BRONTA_INTERRUPT_AT=N, the process is interrupted there as by a
// user's Ctrl+C; with BRONTA_RENAME_AT=N, the folder BRONTA_RENAME_FOLDER is
// renamed to the same name with ".moved" added, as by another program, just
// before the operation. The program itself is built without it and the check
// compiles away.
#pragma once

namespace platform {

#ifdef BRONTA_FAULT_INJECTION
bool InjectFault(const char* operation);
#else
inline constexpr bool InjectFault(const char*) {
  return false;
}
#endif

}  // namespace platform
