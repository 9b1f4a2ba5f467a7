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
    if (used_ > 0) WriteAll(handle_, buffer_, used_);  // a failure has nowhere to go
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

// The temporary file's name beside the output `finalName`: NAME.tmp-PID-N,
// the process number keeping two runs on one input apart. Where the system
// finds that too long, a name no longer than the output's own, so that it
// fits wherever the output's name fits: "~" and the last digits of the same
// two numbers in base 36.
std::string TempName(const std::string& finalName, unsigned long pid, int attempt, bool shortName) {
  if (!shortName) return finalName + ".tmp-" + std::to_string(pid) + "-" + std::to_string(attempt);
  std::string digits;
  std::uint64_t n = std::uint64_t{pid} * 100 + static_cast<unsigned>(attempt);
  do {
    digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
    n /= 36;
  } while (n != 0);
  const std::size_t keep = finalName.size() > 1 ? finalName.size() - 1 : 1;
  if (digits.size() > keep) digits.erase(0, digits.size() - keep);
  return "~" + digits;
}

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
  return WriteAll(file, buffer, count);
}

bool SeekTo(FileHandle file, std::uint64_t offset) {
  if (InjectFault("seek")) return false;
  return sys::SeekTo(file, offset);
}

std::int64_t FileSize(FileHandle file) {
  if (InjectFault("size")) return -1;
  return sys::FileSize(file);
}

bool CloseFileHandle(FileHandle file) {
  if (InjectFault("close")) {
    sys::Close(file);
    return false;
  }
  return sys::Close(file);
}

bool TempFile::Create(const std::string& finalName, FileHandle input) {
  Discard();
  const std::size_t folderPart = sys::FolderPartLength(finalName);
  if (!sys::OpenFolder(finalName.substr(0, folderPart), folder_)) return false;
  finalName_ = finalName.substr(folderPart);
  if (InjectFault("check") || !sys::MayReplace(folder_, finalName_, input)) {
    Discard();
    return false;
  }
  const unsigned long pid = sys::ProcessId();
  bool shortName = false;
  for (int attempt = 0; attempt < 100;) {
    const std::string name = TempName(finalName_, pid, attempt, shortName);
    sys::CreateFailure why = sys::CreateFailure::kNone;
    // The file and its removal on an interrupt come into being together.
    sys::HoldInterrupts();
    const FileHandle file = sys::CreateNewFile(folder_, name, finalName_, why);
    if (file != kInvalidHandle) {
      handle_ = file;
      name_ = name;
      const bool failed = InjectFault("create");
      sys::RemoveOnInterrupt(folder_, name_);
      sys::ReleaseInterrupts();
      if (failed) Discard();
      return !failed;
    }
    sys::ReleaseInterrupts();
    if (why == sys::CreateFailure::kNameTooLong && !shortName) {
      shortName = true;
    } else if (why == sys::CreateFailure::kNameTaken) {
      ++attempt;
    } else {
      break;
    }
  }
  Discard();
  return false;
}

bool TempFile::Keep() {
  if (handle_ == kInvalidHandle) return false;
  // Only a closed output is known to hold what was written to it.
  const bool closed = CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  if (!closed) {
    Discard();
    return false;
  }
  // Past the move the run has succeeded, and an interrupt must not make it
  // look failed: it waits from here, and after a move it is never let
  // through. After a failed move it takes effect once the file is gone.
  sys::HoldInterrupts();
  if (InjectFault("move") || !sys::MoveReplacing(folder_, name_, finalName_)) {
    Discard();
    sys::ReleaseInterrupts();
    return false;
  }
  sys::RemoveOnInterrupt(folder_, "");
  name_.clear();
  sys::CloseFolder(folder_);
  return true;
}

void TempFile::Discard() {
  if (handle_ != kInvalidHandle) CloseFileHandle(handle_);
  handle_ = kInvalidHandle;
  if (!name_.empty()) {
    // Removed first, unregistered after: no moment when the file is there
    // and an interrupt would leave it.
    sys::RemoveFile(folder_, name_);
    sys::HoldInterrupts();
    sys::RemoveOnInterrupt(folder_, "");
    sys::ReleaseInterrupts();
    name_.clear();
  }
  sys::CloseFolder(folder_);
}

}  // namespace platform
