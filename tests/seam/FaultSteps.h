// The steps of a conversion that the faulty system (FaultySystem.cpp) counts
// and can make fail, by the names it gives them on standard error and the
// tests look for: "STEP N", the Nth call of that kind.
#pragma once

namespace fault_steps {

inline constexpr const char kFolder[] = "folder";    // holding the folder
inline constexpr const char kOpen[] = "open";        // opening the input
inline constexpr const char kCheck[] = "check";      // may the output be replaced
inline constexpr const char kCreate[] = "create";    // creating the temporary file
inline constexpr const char kProtect[] = "protect";  // making it like the earlier output
inline constexpr const char kRead[] = "read";
inline constexpr const char kSeek[] = "seek";
inline constexpr const char kSize[] = "size";
inline constexpr const char kWrite[] = "write";  // to a file, not to standard output
inline constexpr const char kClose[] = "close";
inline constexpr const char kMove[] = "move";      // the output into place
inline constexpr const char kRemove[] = "remove";  // the temporary file

}  // namespace fault_steps
