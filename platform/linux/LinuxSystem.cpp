// The calls of SystemCalls.inc on Linux, with glibc.

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/Platform.h"

namespace BRONTA_SYSTEM {

namespace {

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

// A name relative to the folder: "." for the folder itself.
const char* InFolder(const std::string& name) {
  return name.empty() ? "." : name.c_str();
}

sigset_t g_maskBeforeHold;

// The file that an interrupt removes, set only with signals blocked, so
// the handler finds it whole.
int g_removeFolder = AT_FDCWD;
char g_removeName[4096];
int g_removeFile = -1;
volatile sig_atomic_t g_removeSet = 0;

// EmptyFile, safe in a signal handler.
void Empty(int folder, const char* name, int file) {
  if (file >= 0) {
    ftruncate(file, 0);
    return;
  }
  const int fd = openat(folder, name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) close(fd);
}

// The handler, run with every signal blocked (sa_mask): then the process
// ends as the signal would have.
void RemoveAndDie(int signalNumber) {
  if (g_removeSet && unlinkat(g_removeFolder, g_removeName, 0) != 0) {
    Empty(g_removeFolder, g_removeName, g_removeFile);
  }
  signal(signalNumber, SIG_DFL);
  kill(getpid(), signalNumber);  // delivered as the handler returns
}

// The signals whose default is to be ignored, continue or stop the process.
bool Harmless(int sig) {
  for (const int harmless : {SIGCHLD, SIGCONT, SIGURG, SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU}) {
    if (sig == harmless) return true;
  }
  return false;
}

// The start of a small file in /proc, "" when it cannot be read.
std::string ProcFile(const std::string& path) {
  char text[64] = {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (read(fd, text, sizeof text - 1) < 0) text[0] = 0;
    close(fd);
  }
  return text;
}

// Whether `id` (kind "uid" or "gid"), as this process sees an owner or
// group, names one. The initial user namespace maps every id; in another,
// one that is not mapped reads as the overflow id.
bool Nameable(unsigned id, const std::string& kind) {
  unsigned inside = 1, outside = 1, count = 0, overflow = 65534;
  std::sscanf(ProcFile("/proc/self/" + kind + "_map").c_str(), "%u %u %u", &inside, &outside,
              &count);
  if (inside == 0 && outside == 0 && count == 4294967295u) return true;
  std::sscanf(ProcFile("/proc/sys/kernel/overflow" + kind).c_str(), "%u", &overflow);
  return id != overflow;
}

// Copies the access ACL of the earlier file `like` to `fd`, its owner,
// group-class and other entries narrowed to `mode`, or removes one that
// `fd` took from its folder's default ACL where `like` has none. There is
// no getxattr relative to a folder: the name goes through /proc/self/fd,
// or, where that is missing, the earlier file is opened.
bool CopyAccessAcl(int folder, const std::string& like, int fd, mode_t mode) {
  static char acl[65536];  // the largest value an extended attribute may have
  const char* const kName = "system.posix_acl_access";
  const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + like;
  ssize_t size = lgetxattr(path.c_str(), kName, acl, sizeof acl);
  if (size < 0 && errno != ENODATA && errno != ENOTSUP) {
    const int earlier =
        openat(folder, like.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (earlier < 0) return false;
    size = fgetxattr(earlier, kName, acl, sizeof acl);
    const int why = errno;
    close(earlier);
    errno = why;
  }
  if (size < 0) {
    if (errno == ENOTSUP) return true;  // no ACLs here: the mode is all
    return errno == ENODATA && (fremovexattr(fd, kName) == 0 || errno == ENODATA);
  }
  // After a 4-byte version, entries of 8 bytes: a 2-byte tag, 2-byte
  // permissions and a 4-byte id, little-endian. The group class is the mask
  // where there is one, else the owning group's entry.
  constexpr unsigned kOwner = 0x01, kGroup = 0x04, kMask = 0x10, kOther = 0x20;
  const auto entry = [&](unsigned tag) -> char* {
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(acl + at);
      if ((bytes[0] | unsigned{bytes[1]} << 8) == tag) return acl + at + 2;
    }
    return nullptr;
  };
  char* const group = entry(kMask) ? entry(kMask) : entry(kGroup);
  for (const auto& [perms, bits] : {std::pair{entry(kOwner), mode >> 6},
                                    std::pair{group, mode >> 3}, std::pair{entry(kOther), mode}}) {
    if (perms) *perms = static_cast<char>(*perms & bits & 7);
  }
  return fsetxattr(fd, kName, acl, static_cast<std::size_t>(size), 0) == 0;
}

}  // namespace

std::vector<std::string> StartProcess(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Every signal is blocked while the handlers are set, and one found not
  // SIG_DFL is put back before any can be delivered: a signal that came
  // meanwhile for one put back to SIG_IGN is discarded.
  struct sigaction action = {}, old;
  action.sa_handler = RemoveAndDie;
  sigfillset(&action.sa_mask);
  HoldInterrupts();
  for (int sig = 1; sig < NSIG; ++sig) {
    if (!Harmless(sig) && sigaction(sig, &action, &old) == 0 && old.sa_handler != SIG_DFL) {
      sigaction(sig, &old, nullptr);
    }
  }
  ReleaseInterrupts();
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) break;
  }
  return argc < 2 ? std::vector<std::string>{} : std::vector<std::string>(argv + 1, argv + argc);
}

LeadByteSet LeadByteRanges() {
  // A lead byte is one that mbrtowc takes as the start of an unfinished
  // character. UTF-8 never hides an ASCII byte in a character; in GB18030
  // the second and fourth bytes of a four-byte character are digits, so a
  // delimiter is never the trail of a run of lead bytes there.
  LeadByteSet result;
  if (std::setlocale(LC_CTYPE, "") == nullptr || MB_CUR_MAX == 1 ||
      std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
    return result;
  }
  for (int b = 0x80; b <= 0xFF; ++b) {
    std::mbstate_t state{};
    const char byte = static_cast<char>(b);
    wchar_t wide;
    result.lead[b] = std::mbrtowc(&wide, &byte, 1, &state) == static_cast<std::size_t>(-2);
  }
  return result;
}

bool IsFolderSeparator(unsigned char c) {
  return c == '/';
}

bool RandomNumber(std::uint64_t& number) {
  if (getentropy(&number, sizeof number) == 0) return true;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  const bool read8 = fd >= 0 && read(fd, &number, sizeof number) == sizeof number;
  if (fd >= 0) close(fd);
  return read8;
}

void WriteConsoleLine(const std::string& text) {
  const std::string line = text + "\n";
  if (write(STDOUT_FILENO, line.data(), line.size()) < 0) return;  // nowhere to report it
}

void EndProcess(int status) {
  std::exit(status);
}

bool OpenFolder(const std::string& path, Folder& folder) {
  // O_PATH: a folder that this user may write and enter but not list is a
  // folder like any other.
  const int fd = open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  folder.handle = fd;
  folder.path = path;
  return true;
}

FileHandle OpenInputFile(const Folder& folder, const std::string& name) {
  int fd;
  while ((fd = openat(Fd(folder.handle), InFolder(name), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
         errno == EWOULDBLOCK) {
    usleep(50000);  // the open has broken the lease; its holder lets go
  }
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    return kInvalidHandle;
  }
  return fd < 0 ? kInvalidHandle : fd;
}

std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  return read(Fd(file), buffer, count);
}

std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  return write(Fd(file), buffer, count);
}

bool SeekTo(FileHandle file, std::uint64_t offset) {
  return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::int64_t FileSize(FileHandle file) {
  struct stat st;
  return fstat(Fd(file), &st) == 0 ? st.st_size : -1;
}

bool CloseFileHandle(FileHandle file) {
  return close(Fd(file)) == 0;
}

bool MayReplace(const Folder& folder, const std::string& name, FileHandle input) {
  const int dir = Fd(folder.handle);
  struct stat out, in;
  if (fstatat(dir, InFolder(name), &out, 0) != 0) return errno == ENOENT;
  return fstat(Fd(input), &in) == 0 && !S_ISDIR(out.st_mode) &&
         !(out.st_dev == in.st_dev && out.st_ino == in.st_ino) &&
         faccessat(dir, InFolder(name), W_OK, AT_EACCESS) == 0;
}

FileHandle CreateNewFile(const Folder& folder, const std::string& name, const std::string& like,
                         CreateFailure& why) {
  struct stat earlier;
  const bool none = fstatat(Fd(folder.handle), InFolder(like), &earlier, AT_SYMLINK_NOFOLLOW) != 0
                        ? errno == ENOENT
                        : !S_ISREG(earlier.st_mode);
  const int fd = openat(Fd(folder.handle), InFolder(name),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, none ? 0666 : 0600);
  why = fd >= 0           ? CreateFailure::kNone
        : errno == EEXIST ? CreateFailure::kNameTaken
                          : CreateFailure::kOther;
  return fd < 0 ? kInvalidHandle : fd;
}

bool TakeProtection(const Folder& folder, const std::string& like, FileHandle file) {
  const int dir = Fd(folder.handle);
  const int fd = Fd(file);
  struct stat earlier;
  if (fstatat(dir, InFolder(like), &earlier, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISREG(earlier.st_mode)) return true;
  // The owner can be given only by root, the group by a member of it; the
  // ACL comes narrowed to the mode, and the mode last, as fchown may clear
  // some of its bits.
  const uid_t uid = Nameable(earlier.st_uid, "uid") ? earlier.st_uid : static_cast<uid_t>(-1);
  const gid_t gid = Nameable(earlier.st_gid, "gid") ? earlier.st_gid : static_cast<gid_t>(-1);
  const bool groupKept =
      (fchown(fd, uid, gid) == 0 || fchown(fd, static_cast<uid_t>(-1), gid) == 0) &&
      gid != static_cast<gid_t>(-1);
  mode_t mode = earlier.st_mode & 0777;
  if (!groupKept) mode &= ~(070 & ~((mode & 07) << 3));
  return CopyAccessAcl(dir, like, fd, mode) && fchmod(fd, mode) == 0;
}

bool MoveReplacing(const Folder& folder, const std::string& from, const std::string& to) {
  const int dir = Fd(folder.handle);
  return renameat(dir, InFolder(from), dir, InFolder(to)) == 0;
}

bool RemoveFile(const Folder& folder, const std::string& name) {
  return unlinkat(Fd(folder.handle), InFolder(name), 0) == 0;
}

void EmptyFile(const Folder& folder, const std::string& name, FileHandle file) {
  Empty(Fd(folder.handle), InFolder(name), Fd(file));
}

void HoldInterrupts() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &g_maskBeforeHold);
}

void ReleaseInterrupts() {
  sigprocmask(SIG_SETMASK, &g_maskBeforeHold, nullptr);
}

bool RemoveOnInterrupt(const Folder& folder, const std::string& name, FileHandle file) {
  g_removeSet = 0;
  if (name.size() >= sizeof g_removeName) return false;
  std::memcpy(g_removeName, name.c_str(), name.size() + 1);
  g_removeFolder = Fd(folder.handle);
  g_removeFile = Fd(file);
  g_removeSet = !name.empty();
  return true;
}

#ifdef BRONTA_FAULT_INJECTION
bool RaiseInterrupt(int signalNumber) {
  return kill(getpid(), signalNumber) == 0;  // delivered at once unless blocked or ignored
}
#endif

}  // namespace BRONTA_SYSTEM
