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

#include "platform/Handles.h"
#include "platform/LeadBytes.h"

namespace platform::sys {

// --- The process

// Runs first: a broken pipe or a file size limit then gives a failed
// transfer instead of killing the process, standard input, output and error
// are open, and an interrupt removes the file that RemoveOnInterrupt names
// before the process ends as interrupted. An interrupt that was ignored when
// the process started stays ignored.
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

// One read of up to `count` bytes: the bytes read (0 at the end of the
// file), or -1 on failure. POSIX: retried after a signal.
std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count);

// One write of up to `count` bytes: the bytes written, or -1 on failure.
// POSIX: retried after a signal.
std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count);

// Moves the position to `offset` from the start, past the end if need be.
bool SeekTo(FileHandle file, std::uint64_t offset);

// The size of the file, or -1 on failure.
std::int64_t FileSize(FileHandle file);

// Closes the file. False when the system reports that written data may be
// lost.
bool Close(FileHandle file);

// --- The output's folder, and files in it by their names there

// The length of the folder part of `name`, up to and including its last
// separator; 0 when the name has none.
std::size_t FolderPartLength(const std::string& name);

// Opens the folder `path` (the folder part of a name; "" for the current
// folder) and holds it until CloseFolder. False when it cannot be opened.
bool OpenFolder(const std::string& path, Folder& folder);
void CloseFolder(Folder& folder);

// Whether `name` may be replaced by the output: true when nothing is there;
// false when it is a directory, a file this user may not write, or the very
// file open as `input`. Windows: retried for up to a second while someone
// else holds the file.
bool MayReplace(const Folder& folder, const std::string& name, FileHandle input);

enum class CreateFailure { kNone, kNameTaken, kNameTooLong, kOther };

// Creates `name` new and empty for writing, exclusively and without
// following a link. When a file `like` exists, the new file takes its
// permissions (and, where the process may, its owner and group) before
// anything is written to it. On failure returns kInvalidHandle and says why:
// the name is taken, or too long for the system. POSIX: retried after a
// signal.
FileHandle CreateNewFile(const Folder& folder, const std::string& name, const std::string& like,
                         CreateFailure& why);

// Moves `from` over `to` in one step, replacing a file named `to`. Windows:
// retried for up to a second while someone else holds either file.
bool MoveReplacing(const Folder& folder, const std::string& from, const std::string& to);

// Removes a file; failures are ignored.
void RemoveFile(const Folder& folder, const std::string& name);

// --- Interrupts

// While held, an interrupt waits; ReleaseInterrupts lets one that came
// meanwhile take effect before it returns, and then it does not return.
// Holds nest. An interrupt handler never runs in the middle of a held
// stretch, so what the stretch changes is whole when it runs.
void HoldInterrupts();
void ReleaseInterrupts();

// Names the file in `folder` that an interrupt removes from now on; "" for
// none. The name is copied; call it while interrupts are held.
void RemoveOnInterrupt(const Folder& folder, const std::string& name);

// For the fault seam of the tests: interrupts this process as a user's
// Ctrl+C would. Returns when the interrupt waits because interrupts are held
// or is ignored, and false when the system could not deliver it at all.
bool RaiseInterrupt();

}  // namespace platform::sys
