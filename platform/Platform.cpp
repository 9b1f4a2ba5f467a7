// The platform layer as the program sees it (Platform.h), written once for
// every operating system over the small system calls of System.h: the
// transfer loops, the temporary output and standard output.

#include "platform/Platform.h"

#include <string_view>

#include "platform/System.h"

namespace platform {

namespace {

// Writes all `count` bytes with as many writes as it takes: `count`, or -1.
// Writing nothing at all is no progress either.
std::int32_t WriteAll(FileHandle file, const void* buffer, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t put = sys::WriteOnce(file, bytes + done, count - done);
    if (put <= 0) return -1;
    done += static_cast<std::uint32_t>(put);
  }
  return static_cast<std::int32_t>(done);
}

// The temporary file's name beside the output `finalName`: NAME.tmp-R, R
// twelve base-36 digits of a random number, so that nobody can take the
// name first. Where the system finds that too long, a name no longer than
// the output's own, so that it fits wherever the output's name fits: "~"
// and eight of those digits, or as many as that length leaves.
std::string TempName(const std::string& finalName, std::uint64_t random, bool shortName) {
  std::string digits;
  for (int i = 0; i < 12; ++i, random /= 36)
    digits += "0123456789abcdefghijklmnopqrstuvwxyz"[random % 36];
  if (!shortName) return finalName + ".tmp-" + digits;
  const std::size_t keep = finalName.size() > 1 ? finalName.size() - 1 : 1;
  digits.resize(keep < 8 ? keep : 8);
  return "~" + digits;
}

// Names the file that an interrupt removes from now on ("" for none), in a
// held stretch of its own.
void RemoveOnInterrupt(const Folder& folder, const std::string& name) {
  sys::HoldInterrupts();
  sys::RemoveOnInterrupt(folder, name);
  sys::ReleaseInterrupts();
}

}  // namespace

std::vector<std::string> StartProcess(int argc, char** argv) {
  sys::PrepareProcess();
  return sys::CommandLineArguments(argc, argv);
}

bool IsFolderSeparator(unsigned char c) {
  return std::string_view(sys::FolderSeparators()).find(static_cast<char>(c)) !=
         std::string_view::npos;
}

bool EndsExtensionSearch(unsigned char c) {
  return c == '.' || c == '\\' || c == ':' || IsFolderSeparator(c);
}

const LeadByteSet& LeadByteRanges() {
  static const LeadByteSet set = sys::CodePageLeadBytes();
  return set;
}

namespace {
bool g_printed = false;  // a message is shown
}  // namespace

void WriteConsoleLine(const std::string& text) {
  const FileHandle out = sys::StandardOutput();
  const std::string line = text + sys::LineEnd();
  // A failure has nowhere to go.
  if (out != kInvalidHandle) WriteAll(out, line.data(), static_cast<std::uint32_t>(line.size()));
  g_printed = true;
}

void EndProcess(int status) {
  if (g_printed) sys::KeepMessageShown();
  sys::ExitProcess(status);
}

bool OpenFolder(const std::string& path, Folder& folder) {
  return sys::OpenFolder(path, folder);
}

FileHandle OpenInputFile(const Folder& folder, const std::string& name) {
  return sys::OpenRegularFile(folder, name);
}

std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t got = sys::ReadOnce(file, bytes + done, count - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count) {
  return WriteAll(file, buffer, count);
}

bool SeekTo(FileHandle file, std::uint64_t offset) {
  return sys::SeekTo(file, offset);
}

std::int64_t FileSize(FileHandle file) {
  return sys::FileSize(file);
}

bool CloseFileHandle(FileHandle file) {
  return sys::Close(file);
}

bool TempFile::Create(const Folder& folder, const std::string& finalName, FileHandle input) {
  folder_ = &folder;
  finalName_ = finalName;
  if (!sys::MayReplace(folder, finalName, input)) return false;
  bool shortName = false;
  for (int attempt = 0; attempt < 100;) {
    const std::string name = TempName(finalName, sys::RandomNumber(), shortName);
    // The file and its removal on an interrupt come into being together, and
    // a file whose name cannot be kept for that is not made at all.
    sys::HoldInterrupts();
    CreateFailure why = CreateFailure::kOther;
    FileHandle file = kInvalidHandle;
    if (sys::RemoveOnInterrupt(folder, name)) {
      file = sys::CreateNewFile(folder, name, finalName, why);
    }
    // A name that another file holds is never left registered. (No run can
    // tell: the next name replaces it, and after the last the run ends.)
    sys::RemoveOnInterrupt(folder, file == kInvalidHandle ? "" : name, file);
    sys::ReleaseInterrupts();
    if (file != kInvalidHandle) {
      handle_ = file;
      name_ = name;
      // It is open to its owner alone until it is like the earlier output,
      // and not used where that cannot be made sure.
      return sys::TakeProtection(folder, finalName, file);
    }
    // A name taken by another file gets another number. Any other failure
    // may be the name's length, which systems report in many ways, so the
    // short name is tried once.
    if (why == CreateFailure::kNameTaken) {
      ++attempt;
    } else if (!shortName) {
      shortName = true;
    } else {
      return false;
    }
  }
  return false;
}

bool TempFile::Close() {
  // From here an interrupt removes the file by its name alone.
  RemoveOnInterrupt(*folder_, name_);
  const bool closed = CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  return closed;
}

bool TempFile::Keep() {
  // The interrupt at the move (Platform.h): held from here, and never
  // released after a move.
  sys::HoldInterrupts();
  if (!sys::MoveReplacing(*folder_, name_, finalName_)) {
    sys::ReleaseInterrupts();
    return false;
  }
  name_.clear();
  return true;
}

void TempFile::Discard() {
  // A file that its folder keeps is emptied, so that no copy of the samples
  // stays; then an interrupt has nothing left to do.
  if (!name_.empty()) {
    if (!sys::RemoveFile(*folder_, name_)) sys::EmptyFile(*folder_, name_, handle_);
    RemoveOnInterrupt(*folder_, "");
  }
  if (handle_ != kInvalidHandle) CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  name_.clear();
}

}  // namespace platform
