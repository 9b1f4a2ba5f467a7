// What every platform does alike, over the one-call primitives that each
// implements (Native.h): the transfer loops and the temporary output.

#include "platform/Platform.h"

#include <atomic>
#include <cstring>

#include "platform/FaultInjection.h"
#include "platform/Native.h"

namespace platform {

namespace {

// The temporary output while it is being written. An interrupt handler reads
// it (a signal handler on POSIX, a console handler thread on Windows), so it
// is a fixed array guarded by a lock-free flag rather than a std::string.
char g_pendingTemp[4096];
std::atomic<bool> g_pendingSet{false};

void SetPendingTemp(const std::string& name) {
  g_pendingSet.store(false);
  if (name.empty() || name.size() >= sizeof g_pendingTemp) return;
  std::memcpy(g_pendingTemp, name.c_str(), name.size() + 1);
  g_pendingSet.store(true);
}

}  // namespace

void native::RemovePendingTemp() {
  if (g_pendingSet.exchange(false)) native::RemoveNamed(g_pendingTemp);
}

std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count) {
  if (InjectFault("read")) return -1;
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t got = native::ReadOnce(file, bytes + done, count - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t native::WriteAll(FileHandle file, const void* buffer, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t put = native::WriteOnce(file, bytes + done, count - done);
    if (put <= 0) return -1;
    done += static_cast<std::uint32_t>(put);
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count) {
  if (InjectFault("write")) return -1;
  return native::WriteAll(file, buffer, count);
}

bool TempFile::Create(const std::string& finalName) {
  Discard();
  if (InjectFault("create")) return false;
  // NAME.tmp-PID-N: the process number keeps two runs on one input apart.
  const std::string stem = finalName + ".tmp-" + std::to_string(native::ProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(attempt);
    bool nameTaken = false;
    const FileHandle file = native::CreateNewFile(name, nameTaken);
    if (file != kInvalidHandle) {
      finalName_ = finalName;
      name_ = name;
      handle_ = file;
      SetPendingTemp(name_);
      return true;
    }
    if (!nameTaken) break;
  }
  return false;
}

bool TempFile::Keep() {
  if (handle_ == kInvalidHandle) return false;
  // Only a closed output is known to hold what was written to it.
  const bool closed = CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  if (!closed || InjectFault("move") || !native::MoveReplacing(name_, finalName_)) {
    Discard();
    return false;
  }
  SetPendingTemp("");
  name_.clear();
  return true;
}

void TempFile::Discard() {
  if (handle_ != kInvalidHandle) CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  if (name_.empty()) return;
  native::RemoveNamed(name_.c_str());
  SetPendingTemp("");
  name_.clear();
}

}  // namespace platform
