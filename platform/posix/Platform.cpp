// POSIX implementation of the platform layer (Linux, the BSDs, macOS).

#include "platform/Platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/Native.h"

namespace platform {

namespace {

std::vector<std::string> g_arguments;  // non-empty arguments after the program name

// Calls `call` again for as long as a signal interrupts it.
template <typename Call>
auto RetryAfterSignal(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

void RemovePendingTempAndDie(int signalNumber) {
  native::RemovePendingTemp();
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

}  // namespace

void StartProcess(int argc, char** argv) {
  // A closed pipe on standard output must not kill the run, and an output
  // that reaches the file size limit must fail its write, so that the
  // unfinished file is removed rather than left behind.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemovePendingTempAndDie);
  // Started with standard input, output or error closed, the files opened
  // later would take their numbers, and a message could land in the output.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) break;
  }
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '\0') g_arguments.emplace_back(argv[i]);
  }
}

FileHandle OpenInputFile(const std::string& name) {
  if (InjectFault("open")) return kInvalidHandle;
  // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return kInvalidHandle;
  }
  return fd;
}

bool OutputNameUsable(const std::string& name, FileHandle input) {
  if (InjectFault("check")) return false;
  struct stat out;
  if (stat(name.c_str(), &out) != 0) return errno == ENOENT;
  struct stat in;
  if (fstat(Fd(input), &in) != 0) return false;
  if (S_ISDIR(out.st_mode)) return false;
  if (out.st_dev == in.st_dev && out.st_ino == in.st_ino) return false;
  return faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0;
}

bool SkipForward(FileHandle file, std::uint64_t count) {
  if (InjectFault("skip")) return false;
  return lseek(Fd(file), static_cast<off_t>(count), SEEK_CUR) >= 0;
}

std::int64_t RemainingBytes(FileHandle file) {
  if (InjectFault("size")) return -1;
  struct stat st;
  const off_t position = lseek(Fd(file), 0, SEEK_CUR);
  if (position < 0 || fstat(Fd(file), &st) != 0) return -1;
  return st.st_size > position ? st.st_size - position : 0;
}

bool CloseFileHandle(FileHandle file) {
  if (InjectFault("close")) {
    close(Fd(file));
    return false;
  }
  return close(Fd(file)) == 0;
}

void WriteConsoleLine(const std::string& text) {
  const std::string line = text + '\n';
  // Standard output may be a pipe or a terminal; a failure has nowhere to go.
  native::WriteAll(STDOUT_FILENO, line.data(), static_cast<std::uint32_t>(line.size()));
}

int ArgumentCount() {
  return static_cast<int>(g_arguments.size());
}

std::string FirstArgument() {
  return g_arguments.empty() ? std::string() : g_arguments.front();
}

const LeadByteSet& LeadByteRanges() {
  // A double-byte locale (Shift_JIS, GBK, Big5, ...) has at most two bytes per
  // character; a lead byte is one that the C library takes as the start of
  // an unfinished character. UTF-8 and single-byte locales report none.
  static const LeadByteSet set = [] {
    LeadByteSet result;
    if (std::setlocale(LC_CTYPE, "") == nullptr) return result;
    if (MB_CUR_MAX == 2) {
      result.doubleByte = true;
      for (int b = 0x80; b <= 0xFF; ++b) {
        std::mbstate_t state{};
        const char byte = static_cast<char>(b);
        wchar_t wide;
        result.lead[b] = std::mbrtowc(&wide, &byte, 1, &state) == static_cast<std::size_t>(-2);
      }
    }
    std::setlocale(LC_CTYPE, "C");
    return result;
  }();
  return set;
}

void EndProcess(int status) {
  std::exit(status);
}

std::int64_t native::ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  return RetryAfterSignal([&] { return read(Fd(file), buffer, count); });
}

std::int64_t native::WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  return RetryAfterSignal([&] { return write(Fd(file), buffer, count); });
}

FileHandle native::CreateNewFile(const std::string& name, bool& nameTaken) {
  // 0666: the finished file gets the permissions of any new file (umask).
  const int fd = RetryAfterSignal([&] {
    return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  });
  nameTaken = fd < 0 && errno == EEXIST;
  return fd < 0 ? kInvalidHandle : fd;
}

unsigned long native::ProcessId() {
  return static_cast<unsigned long>(getpid());
}

bool native::MoveReplacing(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

void native::RemoveNamed(const char* name) {
  unlink(name);
}

#ifdef BRONTA_FAULT_INJECTION
void native::RaiseInterrupt() {
  std::raise(SIGINT);
}
#endif

}  // namespace platform
