// What Platform.h builds once, for every system, over its calls.

#include "platform/Platform.h"

namespace platform {

namespace {

std::string TempName(const std::string& finalName, std::uint64_t random, bool shortName) {
  std::string digits;
  for (int i = 0; i < 12; ++i, random /= 36)
    digits += "0123456789abcdefghijklmnopqrstuvwxyz"[random % 36];
  if (!shortName) return finalName + ".tmp-" + digits;
  const std::size_t keep = finalName.size() > 1 ? finalName.size() - 1 : 1;
  digits.resize(keep < 8 ? keep : 8);
  return "~" + digits;
}

// RemoveOnInterrupt, with signals blocked around it.
void RemoveOnInterruptHeld(const Folder& folder, const std::string& name) {
  HoldInterrupts();
  RemoveOnInterrupt(folder, name, kInvalidHandle);
  ReleaseInterrupts();
}

}  // namespace

bool EndsExtensionSearch(unsigned char c) {
  return c == '.' || c == '\\' || c == ':' || IsFolderSeparator(c);
}

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
  if (!MayReplace(folder, finalName, input)) return false;
  bool shortName = false;
  for (int taken = 0; taken < 100;) {
    std::uint64_t random;
    if (!RandomNumber(random)) return false;
    const std::string name = TempName(finalName, random, shortName);
    // The file is created and named for removal with signals blocked, so an
    // interrupt finds both or neither; a name too long to be kept is not
    // made at all.
    HoldInterrupts();
    CreateFailure why = CreateFailure::kOther;
    FileHandle file = kInvalidHandle;
    if (RemoveOnInterrupt(folder, name, kInvalidHandle)) {
      file = CreateNewFile(folder, name, finalName, why);
    }
    RemoveOnInterrupt(folder, file == kInvalidHandle ? "" : name, file);
    ReleaseInterrupts();
    if (file != kInvalidHandle) {
      handle_ = file;
      name_ = name;
      return TakeProtection(folder, finalName, file);
    }
    // Any failure but EEXIST may be the name's length, which systems report
    // in many ways: the short name is tried once.
    if (why == CreateFailure::kNameTaken) {
      ++taken;
    } else if (!shortName) {
      shortName = true;
    } else {
      return false;
    }
  }
  return false;
}

bool TempFile::Close() {
  RemoveOnInterruptHeld(*folder_, name_);  // by its name alone from here
  const bool closed = CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  return closed;
}

bool TempFile::Keep() {
  HoldInterrupts();
  if (!MoveReplacing(*folder_, name_, finalName_)) {
    ReleaseInterrupts();
    return false;
  }
  name_.clear();
  return true;
}

void TempFile::Discard() {
  if (!name_.empty()) {
    if (!RemoveFile(*folder_, name_)) EmptyFile(*folder_, name_, handle_);
    RemoveOnInterruptHeld(*folder_, "");
  }
  if (handle_ != kInvalidHandle) CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  name_.clear();
}

}  // namespace platform
