// The operating system's own calls beneath Platform.cpp. Each operating
// system implements every function here once (posix/PosixSystem.cpp,
// windows/WindowsSystem.cpp) and calls nothing of the shared code: the calls
// run one way, from Platform.cpp down to here. A port to another system
// implements this header and nothing else. Only the platform layer includes
// it.
//
// Where a function here does what one of Platform.h does, Platform.h states
// the contract, and only what differs is said here. Each function does one
// small job with as few system calls as it takes, and retries only where
// its comment says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "platform/LeadBytes.h"

namespace platform::sys {

// --- The process

// Runs first, and readies the process as StartProcess says. Standard input,
// output and error are open afterwards, so that no file opened later takes
// their numbers. An interrupt removes the file that RemoveOnInterrupt names.
void PrepareProcess();

// The arguments after the program's own name, as StartProcess says.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The lead bytes of the ANSI code page (the locale's character set on
// POSIX).
LeadByteSet CodePageLeadBytes();

// A number that no other running process has.
unsigned long ProcessId();

// Ends the process with `status` at once.
[[noreturn]] void ExitProcess(int status);

// Called before the end of a process that printed something: where the
// process shows a console window of its own (Windows, started from
// Explorer), which would close with the message, waits for a key first.
void KeepMessageShown();

// --- Standard output

// The handle of standard output, or kInvalidHandle when there is none.
FileHandle StandardOutput();

// The bytes that end a line of text on this system.
const char* LineEnd();

// The bytes that IsFolderSeparator accepts.
extern const char kFolderSeparators[];

// --- Files

// OpenFolder of Platform.h. POSIX: retried after a signal.
bool OpenFolder(const std::string& path, Folder& folder);

// OpenInputFile of Platform.h.
FileHandle OpenRegularFile(const Folder& folder, const std::string& name);

// One read of up to `count` bytes: the bytes read (0 at the end of the
// file), or -1 on failure. POSIX: retried after a signal.
std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count);

// One write of up to `count` bytes: the bytes written, or -1 on failure.
// POSIX: retried after a signal.
std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count);

// SeekTo, FileSize and CloseFileHandle of Platform.h.
bool SeekTo(FileHandle file, std::uint64_t offset);
std::int64_t FileSize(FileHandle file);
bool Close(FileHandle file);

// --- Files in the output's folder, by their names there

// Whether `name` may be replaced by the output: true when nothing is there;
// false when it is a directory, a file this user may not write, or the very
// file open as `input`. Windows: retried for up to a second while someone
// else holds the file.
bool MayReplace(const Folder& folder, const std::string& name, FileHandle input);

enum class CreateFailure { kNone, kNameTaken, kOther };

// Creates `name` new and empty for writing, exclusively and without
// following a link. When a file `like` exists, the new file takes its
// permissions (and, where the process may, its owner and group; on Linux
// its access ACL too) before anything is written to it. On failure returns
// kInvalidHandle and says whether the name is taken. POSIX: retried after a
// signal.
FileHandle CreateNewFile(const Folder& folder, const std::string& name, const std::string& like,
                         CreateFailure& why);

// Moves `from` over `to` in one step, replacing a file named `to`. Windows:
// retried for up to a second while someone else holds either file.
bool MoveReplacing(const Folder& folder, const std::string& from, const std::string& to);

// Removes a file. False when that fails (its folder made read-only
// meanwhile, or the file gone already).
bool RemoveFile(const Folder& folder, const std::string& name);

// Empties an existing file; failures are ignored.
void EmptyFile(const Folder& folder, const std::string& name);

// --- Interrupts

// While held, an interrupt waits; ReleaseInterrupts lets one that came
// meanwhile take effect before it returns, and then it does not return.
// Holds nest. An interrupt handler never runs in the middle of a held
// stretch, so what the stretch changes is whole when it runs.
void HoldInterrupts();
void ReleaseInterrupts();

// Names the file in `folder` that an interrupt removes from now on; "" for
// none. The name is copied; call it while interrupts are held. False, with
// no file named, when the name is too long to be kept.
bool RemoveOnInterrupt(const Folder& folder, const std::string& name);

// For the fault seam of the tests: interrupts this process with
// `signalNumber` on POSIX, with Ctrl+C on Windows. Returns when the
// interrupt waits because interrupts are held or is ignored, and false when
// the system could not deliver it at all.
bool RaiseInterrupt(int signalNumber);

}  // namespace platform::sys
