// What Platform.h builds once, for every system, over its calls.

#include "platform/Platform.h"

namespace platform {

namespace {

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string TempName(const std::string& finalName, std::uint64_t random, bool shortName) {
  std::string digits;
  for (int i = 0; i < 12; ++i, random /= 36) digits += kDigits[random % 36];
  if (!shortName) return finalName + ".tmp-" + digits;
  digits.resize(finalName.size() - 1 < 8 ? finalName.size() - 1 : 8);
  return "~" + digits;
}

}  // namespace

std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t got = ReadOnce(file, bytes + done, count - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  for (std::uint32_t done = 0; done < count;) {
    const std::int64_t put = WriteOnce(file, bytes + done, count - done);
    if (put <= 0) return -1;  // writing nothing is no progress either
    done += static_cast<std::uint32_t>(put);
  }
  return static_cast<std::int32_t>(count);
}

bool TempFile::Create(const Folder& folder, const std::string& finalName, FileHandle input) {
  folder_ = &folder;
  finalName_ = finalName;
  EarlierFile earlier;
  if (!MayReplace(folder, finalName, input, earlier)) return false;
  bool shortName = false;
  for (int taken = 0; taken < 100;) {
    std::uint64_t random;
    if (!RandomNumber(random)) return false;
    const std::string name = TempName(finalName, random, shortName);
    // A short name of digits alone would be its own upper case, which the
    // case probe of ConversionRun takes for the input's spelling.
    if (shortName && name.find_first_of(kDigits + 10) == std::string::npos) continue;
    // Created and named for removal with signals blocked, so that a signal
    // finds both or neither; a name too long to be kept is not made at all.
    BlockSignals();
    CreateFailure why = CreateFailure::kOther;
    const FileHandle file = SetFileRemovedOnSignal(folder, name, kInvalidHandle)
                                ? CreateNewFile(folder, name, earlier, why)
                                : kInvalidHandle;
    SetFileRemovedOnSignal(folder, file == kInvalidHandle ? "" : name, file);
    UnblockSignals();
    if (file != kInvalidHandle) {
      handle_ = file;
      name_ = name;
      return CopyPermissions(folder, finalName, earlier, file);
    }
    // Any failure but a taken name may be the name's length, which systems
    // report in many ways: the short name is tried once.
    const bool nameTaken = why == CreateFailure::kNameTaken;
    if (!nameTaken && shortName) return false;
    taken += nameTaken ? 1 : 0;
    shortName = shortName || !nameTaken;
  }
  return false;
}

bool TempFile::EndWrites() {
  // The duplicate keeps the file open until it is kept or discarded, so that
  // Discard and a signal can empty it through it (its own mode may refuse
  // an open by its name), and so that on Windows the file marked for
  // deletion does not go with the close of its only handle.
  const FileHandle duplicate = DuplicateFile(handle_);
  if (duplicate == kInvalidHandle) return false;
  BlockSignals();
  SetFileRemovedOnSignal(*folder_, name_, duplicate);
  UnblockSignals();
  const bool closed = CloseFileHandle(handle_);
  handle_ = duplicate;
  return closed;
}

std::optional<Kept> TempFile::Keep() {
  BlockSignals();
  if (!MoveReplacing(*folder_, name_, handle_, finalName_)) {
    UnblockSignals();
    return std::nullopt;
  }
  name_.clear();
  return Kept{};
}

void TempFile::Discard() {
  if (!name_.empty()) {
    // A signal finds the file named until it is removed or emptied, and
    // never a name that another file may have taken since.
    BlockSignals();
    if (!RemoveFile(*folder_, name_)) TruncateFile(handle_);
    SetFileRemovedOnSignal(*folder_, "", kInvalidHandle);
    UnblockSignals();
  }
  if (handle_ != kInvalidHandle) CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  name_.clear();
}

}  // namespace platform
