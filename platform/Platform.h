// The operating system, as the rest of bronta sees it: files with raw byte
// transfers in a folder held open, a temporary output moved into place when
// complete, one line of text to standard output, the command-line
// arguments, the lead bytes of the ANSI code page and the end of the
// process.
//
// Platform.cpp implements all of it once, over the small system calls of
// System.h, which each operating system implements in a file of its own
// (posix/PosixSystem.cpp, windows/WindowsSystem.cpp); CMake picks the one
// that fits the target. No other file of the program includes a system
// header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "platform/LeadBytes.h"

namespace platform {

// Makes the process ready and returns its arguments after the program's
// own name. A broken pipe or a file size limit then gives a failed transfer
// instead of killing the process, and a signal or console event that would
// end it removes the temporary output first; one that was ignored when the
// process started stays ignored. POSIX takes the arguments as the shell
// passed them, an empty one included; Windows cuts its single command line
// into words as Windows programs do, where an empty pair of quotes is no
// argument.
std::vector<std::string> StartProcess(int argc, char** argv);

// The bytes of a path that the output name rule looks for, declared
// together here. IsFolderSeparator: whether `c` ends the name of a folder,
// "/" on POSIX; "\", "/" and ":" on Windows. EndsExtensionSearch: whether
// `c` ends the search for a name's extension: ".", "\" and ":" on every
// platform (on POSIX "\" and ":" are bytes of a file's name, and still end
// it, as on Windows), and every folder separator.
bool IsFolderSeparator(unsigned char c);
bool EndsExtensionSearch(unsigned char c);

// Opens the folder `path` ("" for the current one) and holds it until the
// process ends (on Windows, until a message waits for a key), so that the
// input and the output are found in the same folder, even when another
// program renames or swaps it meanwhile (Windows refuses to rename it at
// all). False when it cannot be opened.
bool OpenFolder(const std::string& path, Folder& folder);

// Opens the existing regular file `name` in `folder` for reading; other
// openers may go on reading and writing it. A directory, a device or a
// missing file gives kInvalidHandle.
FileHandle OpenInputFile(const Folder& folder, const std::string& name);

// An output written under a temporary name beside its final name and moved
// there only when complete, so that nobody ever sees half a file under the
// final name and an earlier file of that name stays as it was until then.
// While the temporary file exists, an interrupt (Ctrl+C, a termination
// signal, a closed console window) removes it.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the temporary file, new and empty, exclusively and without
  // following links, beside `finalName` in `folder`, which must stay open
  // while this object lives. False when `finalName` may not be replaced (a
  // directory, a file this user may not write or replace, or the very file
  // open as `input`, through any path or link), when nothing can be created
  // there, or when the new file cannot be made as closed as an earlier file
  // of the final name: it takes that file's permissions and ACL (and, where
  // the process may, its owner and group) before any sample is written, and
  // is never more open meanwhile, so that the samples are never more open
  // than that file was.
  bool Create(const Folder& folder, const std::string& finalName, FileHandle input);

  FileHandle handle() const { return handle_; }

  // Closes the file. False when the close reports lost data.
  bool Close();

  // Moves the closed file over the final name in one step. False when the
  // move fails (the final name cannot be replaced); the file then goes with
  // Discard.
  //
  // The interrupt at the move: from just before the move, an interrupt
  // waits. After a failed move it takes effect, and removes the file. After
  // a move it is never let through, because the output is in place and the
  // run has succeeded: the caller must then end the process as a success
  // (bronta::EndConverted), and nothing else.
  bool Keep();

  // Closes and removes the file; nothing when there is none or it was kept.
  void Discard();

 private:
  const Folder* folder_ = nullptr;
  std::string finalName_;  // in the folder
  std::string name_;       // in the folder; "" when there is no file
  FileHandle handle_ = kInvalidHandle;
};

// Not a RIFF chunk: a plain byte transfer at the current position. Reads up
// to `count` bytes, retrying until `count` bytes are in or the file ends.
// Returns the bytes read (0 at the end of the file) or -1 on failure. Bytes
// of `buffer` past those read are not touched.
std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count);

// Not a RIFF chunk: writes all `count` bytes at the current position.
// Returns `count`, or -1 on failure.
std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count);

// Moves the position to `offset` from the start (possibly past the end of
// the file). Returns false on failure.
bool SeekTo(FileHandle file, std::uint64_t offset);

// The size of the file in bytes, or -1 on failure.
std::int64_t FileSize(FileHandle file);

// Closes a file. False when the platform reports that data written to it may
// be lost.
bool CloseFileHandle(FileHandle file);

// Writes `text` and the platform's line end to standard output, in one
// write, so that the lines of runs side by side never mix. Failures are
// dropped without notice.
void WriteConsoleLine(const std::string& text);

// Which bytes lead a double-byte character in the ANSI code page; none
// where it has no such characters. Fixed once per process.
const LeadByteSet& LeadByteRanges();

// Ends the process with `status`. After a message, a console window of the
// process's own (Windows, started from Explorer) waits for a key first.
[[noreturn]] void EndProcess(int status);

}  // namespace platform
