// A seam for tests: in a build with BRONTA_FAULT_INJECTION, the Nth platform
// operation (N from the environment variable BRONTA_FAIL_AT) fails as the
// operating system would make it fail, and the operation is named on standard
// error (with BRONTA_FAIL_ALSO=OPERATION, every operation of that kind
// fails too); with BRONTA_INTERRUPT_AT=N, the process is interrupted there as by a
// user's Ctrl+C or the signal BRONTA_INTERRUPT_SIGNAL; with
// BRONTA_RENAME_AT=N, the folder BRONTA_RENAME_FOLDER is renamed to the same
// name with ".moved" added, and an empty one made in its place, as by
// another program, just before the operation; with BRONTA_END_AT=N, the Nth
// read finds the end of the file. The program itself is built without it and
// the checks compile away.
#pragma once

namespace platform {

#ifdef BRONTA_FAULT_INJECTION
bool InjectFault(const char* operation);
bool InjectEndOfFile();
#else
inline constexpr bool InjectFault(const char*) {
  return false;
}
inline constexpr bool InjectEndOfFile() {
  return false;
}
#endif

}  // namespace platform
