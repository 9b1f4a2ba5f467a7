// The system calls of System.h on POSIX (Linux, the BSDs, macOS).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/System.h"

namespace platform::sys {

namespace {

// Calls `call` again for as long as a signal interrupts it.
template <typename Call>
auto RetryAfterSignal(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

// The file that an interrupt removes. A signal handler reads it, so it is a
// fixed array guarded by a lock-free flag rather than a std::string.
char g_removeOnInterrupt[4096];
std::atomic<bool> g_removeSet{false};

void RemoveAndDie(int signalNumber) {
  if (g_removeSet.exchange(false)) unlink(g_removeOnInterrupt);
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

}  // namespace

void PrepareProcess() {
  // A closed pipe on standard output must not kill the run, and an output
  // that reaches the file size limit must fail its write, so that the
  // unfinished file is removed rather than left behind.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemoveAndDie);
  // Started with standard input, output or error closed, the files opened
  // later would take their numbers, and a message could land in the output.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) break;
  }
}

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

LeadByteSet CodePageLeadBytes() {
  // A double-byte locale (Shift_JIS, GBK, Big5, ...) has at most two bytes per
  // character; a lead byte is one that the C library takes as the start of
  // an unfinished character. UTF-8 and single-byte locales report none.
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
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(getpid());
}

void ExitProcess(int status) {
  std::exit(status);
}

FileHandle StandardOutput() {
  return STDOUT_FILENO;
}

bool IsConsole(FileHandle file) {
  return isatty(Fd(file)) == 1;
}

const char* LineEnd() {
  return "\n";
}

FileHandle OpenRegularFile(const std::string& name) {
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

bool MayReplace(const std::string& name, FileHandle input) {
  struct stat out;
  if (stat(name.c_str(), &out) != 0) return errno == ENOENT;
  struct stat in;
  if (fstat(Fd(input), &in) != 0) return false;
  if (S_ISDIR(out.st_mode)) return false;
  if (out.st_dev == in.st_dev && out.st_ino == in.st_ino) return false;
  return faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0;
}

FileHandle CreateNewFile(const std::string& name, bool& nameTaken) {
  // 0666: the finished file gets the permissions of any new file (umask).
  const int fd = RetryAfterSignal([&] {
    return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  });
  nameTaken = fd < 0 && errno == EEXIST;
  return fd < 0 ? kInvalidHandle : fd;
}

std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  return RetryAfterSignal([&] { return read(Fd(file), buffer, count); });
}

std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  return RetryAfterSignal([&] { return write(Fd(file), buffer, count); });
}

bool SeekForward(FileHandle file, std::uint64_t count) {
  return lseek(Fd(file), static_cast<off_t>(count), SEEK_CUR) >= 0;
}

std::int64_t Position(FileHandle file) {
  return lseek(Fd(file), 0, SEEK_CUR);
}

std::int64_t FileSize(FileHandle file) {
  struct stat st;
  return fstat(Fd(file), &st) == 0 ? st.st_size : -1;
}

bool Close(FileHandle file) {
  return close(Fd(file)) == 0;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFile(const std::string& name) {
  unlink(name.c_str());
}

void RemoveOnInterrupt(const std::string& name) {
  g_removeSet.store(false);
  if (name.empty() || name.size() >= sizeof g_removeOnInterrupt) return;
  std::memcpy(g_removeOnInterrupt, name.c_str(), name.size() + 1);
  g_removeSet.store(true);
}

#ifdef BRONTA_FAULT_INJECTION
bool RaiseInterrupt() {
  return std::raise(SIGINT) == 0;
}
#endif

}  // namespace platform::sys
