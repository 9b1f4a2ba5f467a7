// The operating system's own calls, as the shared code of the platform layer
// (Platform.cpp) uses them. Each operating system implements every function
// here once (posix/PosixSystem.cpp, windows/WindowsSystem.cpp) and calls
// nothing of the shared code: the calls run one way, from Platform.cpp down
// to here. A port to another system implements this header and nothing else.
// Only the platform layer includes it.
//
// Each function does one small job with as few system calls as it takes. A
// function retries only where its comment says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace platform::sys {

// --- The process

// Runs first: a broken pipe or a file size limit then gives a failed
// transfer instead of killing the process, standard input, output and error
// are open, and an interrupt removes the file that RemoveOnInterrupt names
// before the process ends as interrupted.
void PrepareProcess();

// The words of the command line as this system hands them over, the
// program's own name first.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// Whether the ANSI code page (the locale's character set on POSIX) is
// double-byte, and which bytes lead a double-byte character.
LeadByteSet CodePageLeadBytes();

// A number that no other running process has.
unsigned long ProcessId();

// Ends the process with `status` at once.
[[noreturn]] void ExitProcess(int status);

// --- Standard output

// The handle of standard output, or kInvalidHandle when there is none.
FileHandle StandardOutput();

// Whether `file` is a console (a terminal), which shows each line at once.
bool IsConsole(FileHandle file);

// The bytes that end a line of text on this system.
const char* LineEnd();

// --- Files

// Opens an existing regular file for reading only; others may go on reading
// and writing it. A directory, a device or a missing file gives
// kInvalidHandle.
FileHandle OpenRegularFile(const std::string& name);

// Whether `name` may be replaced by the output: true when nothing is there;
// false when it is a directory, a file this user may not write, or the very
// file open as `input`. Windows: retried for up to a second while someone
// else holds the file.
bool MayReplace(const std::string& name, FileHandle input);

// Creates `name` new and empty for writing, exclusively and without
// following a link. On failure returns kInvalidHandle and sets `nameTaken`
// when only the name was in the way. POSIX: retried after a signal.
FileHandle CreateNewFile(const std::string& name, bool& nameTaken);

// One read of up to `count` bytes: the bytes read (0 at the end of the
// file), or -1 on failure. POSIX: retried after a signal.
std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count);

// One write of up to `count` bytes: the bytes written, or -1 on failure.
// POSIX: retried after a signal.
std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count);

// Moves the position `count` bytes on, past the end if need be.
bool SeekForward(FileHandle file, std::uint64_t count);

// The current position and the size of the file, or -1 on failure.
std::int64_t Position(FileHandle file);
std::int64_t FileSize(FileHandle file);

// Closes the file. False when the system reports that written data may be
// lost.
bool Close(FileHandle file);

// Moves `from` over `to` in one step, replacing a file named `to`. Windows:
// retried for up to a second while someone else holds either file.
bool MoveReplacing(const std::string& from, const std::string& to);

// Removes a file; failures are ignored.
void RemoveFile(const std::string& name);

// --- Interrupts

// Names the file that an interrupt removes from now on; "" for none. The
// name is copied, so that an interrupt at any moment finds it whole.
void RemoveOnInterrupt(const std::string& name);

// For the fault seam of the tests: interrupts this process as a user's
// Ctrl+C would. Returns false when the system could not deliver it.
bool RaiseInterrupt();

}  // namespace platform::sys
