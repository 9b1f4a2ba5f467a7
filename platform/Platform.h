// The operating system, as the rest of bronta sees it: files with raw byte
// transfers, one line of text to standard output, the command-line arguments,
// the lead bytes of the ANSI code page and the end of the process.
//
// One implementation of this header exists per platform (posix/, windows/);
// CMake picks the one that fits the target. No other file of the program
// includes a system header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/LeadBytes.h"

namespace platform {

// An open file. kInvalidHandle means that an open or create failed.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidHandle = -1;

// Records the arguments handed to main (ignored where the platform passes a
// single command line) and makes the process ready: a broken pipe or a file
// size limit then gives a failed transfer instead of killing the process.
void StartProcess(int argc, char** argv);

// Opens an existing regular file for reading; other openers may go on reading
// and writing it. A directory or a missing file gives kInvalidHandle.
FileHandle OpenInputFile(const std::string& name);

// Tells whether `name` may become the output: false when it is a directory,
// a file this user may not write, or the very file open as `input` (through
// any path, hard link or symbolic link). A name that does not exist yet is
// fine. Touches nothing.
bool OutputNameUsable(const std::string& name, FileHandle input);

// Creates a new, empty temporary file in the directory of `finalName`,
// exclusively and without following links, and stores its name in
// `tempName`. kInvalidHandle when the directory is not writable.
FileHandle CreateTempBeside(const std::string& finalName, std::string& tempName);

// Moves the finished temporary file over `finalName` in one step, replacing
// an earlier file of that name. False when the move failed.
bool ReplaceWithTemp(const std::string& tempName, const std::string& finalName);

// Removes a file; failures are ignored (used to drop an unfinished output).
void RemoveFile(const std::string& name);

// Reads up to `count` bytes at the current position, retrying until `count`
// bytes are in or the file ends. Returns the bytes read (0 at the end of the
// file) or -1 on failure. Bytes of `buffer` past those read are not touched.
std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count);

// Writes all `count` bytes at the current position. Returns `count`, or -1
// on failure.
std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count);

// Moves the position `count` bytes forward (possibly past the end of the
// file). Returns false on failure.
bool SkipForward(FileHandle file, std::uint64_t count);

// Bytes from the current position to the end of the file, or -1 on failure.
std::int64_t RemainingBytes(FileHandle file);

// Copies up to `count` bytes from `in` to `out` at their current positions
// inside the operating system, without a user-space buffer. Returns the bytes
// copied, which may be fewer than `count` (0 where the platform or the file
// systems offer no such copy); the caller moves the rest itself. Never
// reports a failure: after a fault it returns what it copied so far and the
// caller's own transfers meet the fault again and report it precisely.
std::uint64_t KernelCopy(FileHandle in, FileHandle out, std::uint64_t count);

// Closes a file. False when the platform reports that data written to it may
// be lost.
bool CloseFileHandle(FileHandle file);

// Writes `text` and the platform's line end to standard output. Failures are
// dropped without notice.
void WriteConsoleLine(const std::string& text);

// The number of non-empty arguments after the program name, and the first.
int ArgumentCount();
std::string FirstArgument();

// Whether the ANSI code page is double-byte, and which bytes lead a
// double-byte character; fixed once per process.
const LeadByteSet& LeadByteRanges();

// Flushes standard output and ends the process with `status`.
[[noreturn]] void EndProcess(int status);

}  // namespace platform
