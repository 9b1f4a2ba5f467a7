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

// Why a new file could not be created: its name is taken by another file,
// or something else (which may be the name's length).
enum class CreateFailure { kNone, kNameTaken, kOther };

}  // namespace platform
