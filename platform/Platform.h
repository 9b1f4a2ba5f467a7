// The operating system, as the rest of bronta sees it: the calls that each
// system implements in a file of its own (SystemCalls.inc; CMake picks
// linux/LinuxSystem.cpp or windows/WindowsSystem.cpp), and what
// Platform.cpp builds once over them: whole transfers and the temporary
// output. No other file of the program includes a system header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// Why a new file could not be created: its name is taken, or something else
// (which may be the name's length).
enum class CreateFailure { kNone, kNameTaken, kOther };

// What MayReplace found under the output's name: whether it is a regular
// file (a symbolic link is replaced by rename, not followed) and, where the
// system keeps them for each file, its permission bits, owner and group.
struct EarlierFile {
  bool regular = false;
  unsigned mode = 0, owner = 0, group = 0;
};

// Which bytes start a double-byte character in the ANSI code page; the
// output name rule must not take the second byte of one for a delimiter.
struct LeadByteSet {
  std::array<bool, 256> lead = {};
  bool IsLead(unsigned char byte) const { return lead[byte]; }
};

#define SYSTEM_CALL(result, name, parameters, arguments) result name parameters;
#include "platform/SystemCalls.inc"

// Not a RIFF chunk: a plain transfer at the current position. ReadChunk
// reads until `count` bytes are in or the file ends, and returns the bytes
// read (0 at the end) or -1; bytes of `buffer` past those are not touched.
// WriteChunk writes all `count` bytes, and returns `count` or -1.
std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count);
std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count);

// Proof that an output is in place (TempFile::Keep), with every signal
// still blocked so that none can report the success as an interrupted run:
// whoever holds one must end the process at once, with status 0.
class Kept {
  friend class TempFile;
  Kept() = default;
};

// An output written under a temporary name beside its final name and moved
// there (rename) only when complete, so that nobody sees half a file under
// the final name and an earlier file of that name stays as it was until
// then. The file is held open until the rename. On Linux, while it exists,
// a signal removes it (unlinkat), or empties it through the handle
// (ftruncate) where it cannot be removed. On Windows it is shared with
// nobody and marked for deletion on its handle (FileDispositionInformation)
// from its creation to just before the rename, which goes through the
// handle (FileRenameInformation): no other program can open it meanwhile,
// and the system removes it as the handle closes, however the process ends.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the temporary file NAME.tmp-R beside `finalName` in `folder`
  // (which must stay open while this object lives), R twelve base-36 digits
  // of a RandomNumber, a new one for each name taken; where the system
  // refuses that name, "~" and eight of the digits, no longer than
  // `finalName`, with at least one letter. It has the earlier file's
  // permissions (CopyPermissions) before any sample is written. False when
  // MayReplace refuses, there is no random number, or nothing can be
  // created or given its permissions.
  bool Create(const Folder& folder, const std::string& finalName, FileHandle input);

  FileHandle handle() const { return handle_; }
  const std::string& name() const { return name_; }

  // Ends the writes: holds a duplicate of the handle written through
  // (DuplicateFile) open until the file is kept or discarded, and closes
  // the first. False when there is no duplicate, or that close reports lost
  // data.
  bool EndWrites();

  // Moves the file over the final name (MoveReplacing; on Windows, waiting
  // about three seconds for another program to let an earlier output go),
  // with signals blocked from just before, and keeps them blocked once it
  // is there.
  // Nothing when rename fails: the signals are then unblocked, and the file
  // goes with Discard.
  [[nodiscard]] std::optional<Kept> Keep();

  // Removes the file (RemoveFile), or empties it through its handle where it
  // cannot be removed, and closes the handle.
  void Discard();

 private:
  const Folder* folder_ = nullptr;
  std::string finalName_;  // in the folder
  std::string name_;       // in the folder; "" when there is no file
  FileHandle handle_ = kInvalidHandle;
};

}  // namespace platform

#ifdef BRONTA_FAULT_INJECTION
// In the tests' bronta_faulty the seam (tests/seam/FaultySystem.cpp) is
// platform's calls, and the operating system's own are platform::os.
#define BRONTA_SYSTEM platform::os
namespace platform::os {
#define SYSTEM_CALL(result, name, parameters, arguments) result name parameters;
#include "platform/SystemCalls.inc"
// Sends the process `signalNumber` (Linux) or Ctrl+C (Windows). Returns
// when the signal waits or is ignored; false when the system could not
// deliver it.
bool RaiseInterrupt(int signalNumber);
}  // namespace platform::os
#else
#define BRONTA_SYSTEM platform
#endif
