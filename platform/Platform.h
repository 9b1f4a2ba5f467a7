// The operating system, as the rest of bronta sees it: files with raw byte
// transfers, a temporary output moved into place when complete, one line of
// text to standard output, the command-line arguments, the lead bytes of the
// ANSI code page and the end of the process.
//
// Platform.cpp implements all of it once, over the small system calls of
// System.h, which each operating system implements in a file of its own
// (posix/PosixSystem.cpp, windows/WindowsSystem.cpp); CMake picks the one
// that fits the target. No other file of the program includes a system
// header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Handles.h"
#include "platform/LeadBytes.h"

namespace platform {

// Records the arguments handed to main (ignored where the platform passes a
// single command line) and makes the process ready: a broken pipe or a file
// size limit then gives a failed transfer instead of killing the process,
// and an interrupt removes the temporary output before the process ends. An
// interrupt that was ignored when the process started stays ignored.
void StartProcess(int argc, char** argv);

// Opens an existing regular file for reading; other openers may go on reading
// and writing it. A directory, a device or a missing file gives
// kInvalidHandle.
FileHandle OpenInputFile(const std::string& name);

// An output written under a temporary name beside its final name and moved
// there only when complete, so that nobody ever sees half a file under the
// final name and an earlier file of that name stays as it was until then.
// The folder is held open from the start, so that the output lands in the
// folder the name led to when the run began, and the temporary file leaves
// with the run, even if the folder is renamed meanwhile. While the temporary
// file exists, an interrupt (Ctrl+C, a termination signal, a closed console
// window) removes it.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the temporary file, new and empty, exclusively and without
  // following links, beside `finalName`. False when `finalName` may not be
  // replaced (a directory, a file this user may not write, or the very file
  // open as `input`, through any path or link) or nothing can be created
  // there. An earlier file of the final name lends the new one its
  // permissions (and, where the process may, its owner and group) from the
  // start, so that the samples are never more open than it was.
  bool Create(const std::string& finalName, FileHandle input);

  FileHandle handle() const { return handle_; }

  // Closes the file and moves it over the final name in one step. False,
  // with the file removed, when the close reports lost data or the move
  // fails. From just before the move, an interrupt waits: after a move it
  // is never let through, so the process must end as a success; after a
  // failed move it takes effect once the file is removed.
  bool Keep();

  // Closes and removes the file; nothing when there is none.
  void Discard();

 private:
  Folder folder_;
  std::string finalName_;  // in the folder
  std::string name_;       // in the folder; "" when there is no file
  FileHandle handle_ = kInvalidHandle;
};

// A plain byte transfer at the current position (a "chunk" here is any run
// of bytes, not a RIFF chunk): reads up to `count` bytes, retrying until
// `count` bytes are in or the file ends. Returns the bytes read (0 at the end
// of the file) or -1 on failure. Bytes of `buffer` past those read are not
// touched.
std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count);

// Writes all `count` bytes at the current position. Returns `count`, or -1
// on failure.
std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count);

// Moves the position to `offset` from the start (possibly past the end of
// the file). Returns false on failure.
bool SeekTo(FileHandle file, std::uint64_t offset);

// The size of the file in bytes, or -1 on failure.
std::int64_t FileSize(FileHandle file);

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
