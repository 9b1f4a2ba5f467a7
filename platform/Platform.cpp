// The platform layer as the program sees it (Platform.h), written once for
// every operating system over the small system calls of System.h: the
// transfer loops, the temporary output, standard output, the arguments, and
// the fault seam of the tests.

#include "platform/Platform.h"

#include <vector>

#include "platform/FaultInjection.h"
#include "platform/System.h"

namespace platform {

namespace {

// The non-empty arguments after the program name.
std::vector<std::string> g_arguments;

// Standard output: opened on the first line, written in 128-byte pieces, and
// after every line when it is a console, so that each line shows at once.
class ConsoleChannel {
 public:
  void Line(const std::string& text) {
    if (!Open()) return;
    for (char c : text) Put(c);
    for (const char* end = sys::LineEnd(); *end; ++end) Put(*end);
    if (isConsole_) Flush();
  }
  void Flush() {
    std::uint32_t done = 0;
    while (done < used_) {  // a failure has nowhere to go
      const std::int64_t put = sys::WriteOnce(handle_, buffer_ + done, used_ - done);
      if (put <= 0) break;
      done += static_cast<std::uint32_t>(put);
    }
    used_ = 0;
  }

 private:
  bool Open() {
    if (!opened_) {
      opened_ = true;
      handle_ = sys::StandardOutput();
      isConsole_ = handle_ != kInvalidHandle && sys::IsConsole(handle_);
    }
    return handle_ != kInvalidHandle;
  }
  void Put(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
  }

  FileHandle handle_ = kInvalidHandle;
  bool opened_ = false;
  bool isConsole_ = false;
  char buffer_[128];
  std::uint32_t used_ = 0;
};

ConsoleChannel g_console;

}  // namespace

void StartProcess(int argc, char** argv) {
  sys::PrepareProcess();
  const std::vector<std::string> words = sys::CommandLineWords(argc, argv);
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (!words[i].empty()) g_arguments.push_back(words[i]);
  }
}

int ArgumentCount() {
  return static_cast<int>(g_arguments.size());
}

std::string FirstArgument() {
  return g_arguments.empty() ? std::string() : g_arguments.front();
}

const LeadByteSet& LeadByteRanges() {
  static const LeadByteSet set = sys::CodePageLeadBytes();
  return set;
}

void WriteConsoleLine(const std::string& text) {
  g_console.Line(text);
}

void EndProcess(int status) {
  g_console.Flush();
  sys::ExitProcess(status);
}

FileHandle OpenInputFile(const std::string& name) {
  if (InjectFault("open")) return kInvalidHandle;
  return sys::OpenRegularFile(name);
}

bool OutputNameUsable(const std::string& name, FileHandle input) {
  if (InjectFault("check")) return false;
  return sys::MayReplace(name, input);
}

std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count) {
  if (InjectFault("read")) return -1;
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
  if (InjectFault("write")) return -1;
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t put = sys::WriteOnce(file, bytes + done, count - done);
    if (put <= 0) return -1;  // writing nothing at all is no progress either
    done += static_cast<std::uint32_t>(put);
  }
  return static_cast<std::int32_t>(done);
}

bool SkipForward(FileHandle file, std::uint64_t count) {
  if (InjectFault("skip")) return false;
  return sys::SeekForward(file, count);
}

std::int64_t RemainingBytes(FileHandle file) {
  if (InjectFault("size")) return -1;
  const std::int64_t position = sys::Position(file);
  const std::int64_t size = sys::FileSize(file);
  if (position < 0 || size < 0) return -1;
  return size > position ? size - position : 0;
}

bool CloseFileHandle(FileHandle file) {
  if (InjectFault("close")) {
    sys::Close(file);
    return false;
  }
  return sys::Close(file);
}

bool TempFile::Create(const std::string& finalName) {
  Discard();
  if (InjectFault("create")) return false;
  // NAME.tmp-PID-N: the process number keeps two runs on one input apart.
  const std::string stem = finalName + ".tmp-" + std::to_string(sys::ProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(attempt);
    bool nameTaken = false;
    const FileHandle file = sys::CreateNewFile(name, nameTaken);
    if (file != kInvalidHandle) {
      finalName_ = finalName;
      name_ = name;
      handle_ = file;
      sys::RemoveOnInterrupt(name_);
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
  if (!closed || InjectFault("move") || !sys::MoveReplacing(name_, finalName_)) {
    Discard();
    return false;
  }
  sys::RemoveOnInterrupt("");
  name_.clear();
  return true;
}

void TempFile::Discard() {
  if (handle_ != kInvalidHandle) CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  if (name_.empty()) return;
  sys::RemoveFile(name_);
  sys::RemoveOnInterrupt("");
  name_.clear();
}

}  // namespace platform
