// The system calls that each platform provides to the code both platforms
// share (Platform.cpp): one call each, no loops and no retries, which the
// shared code adds once. Only the platform layer includes this header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace platform::native {

// One read: the bytes read (0 at the end of the file), or -1 on failure.
std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count);

// One write: the bytes written, or -1 on failure (writing nothing at all
// counts as one).
std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count);

// Creates `name` new and empty for writing, exclusively and without
// following a link. On failure returns kInvalidHandle and sets `nameTaken`
// when only the name was in the way, so that another name may be tried.
FileHandle CreateNewFile(const std::string& name, bool& nameTaken);

// A number that no other running process has, for temporary names.
unsigned long ProcessId();

// Moves `from` over `to` in one step, replacing a file named `to`.
bool MoveReplacing(const std::string& from, const std::string& to);

// Removes a file by name; failures are ignored. Safe inside a signal
// handler on POSIX.
void RemoveNamed(const char* name);

// For the fault seam of the tests: interrupts this process as a user's
// Ctrl+C would, and returns only when that could not be done.
void RaiseInterrupt();

// Given back by the shared code:

// Writes all `count` bytes with as many writes as it takes; `count`, or -1.
std::int32_t WriteAll(FileHandle file, const void* buffer, std::uint32_t count);

// Removes the temporary output, if one is being written. The interrupt
// handlers of each platform call it.
void RemovePendingTemp();

}  // namespace platform::native
