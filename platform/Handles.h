// The handles of files and folders, as both the program's side of the
// platform layer (Platform.h) and the system calls beneath it (System.h)
// name them.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An open file. kInvalidHandle means that an open or create failed.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidHandle = -1;

// A folder held open, and its name as the prefix of the names in it ("" for
// the current folder).
struct Folder {
  FileHandle handle = kInvalidHandle;
  std::string path;
};

}  // namespace platform
