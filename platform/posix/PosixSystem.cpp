// The system calls of System.h on POSIX (Linux, the BSDs, macOS).

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/System.h"

namespace platform::os {

namespace {

// Calls `call` again for as long as a signal interrupts it: calls on
// network and FUSE file systems may be. (No test can show it: calls on local
// files are never interrupted.)
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

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__))
// glibc keeps the signals 32 and 33 for its threads and leaves them out of
// sigaction, sigprocmask and sigfillset, but they end a process as any
// other does. The kernel's own calls take them; the program has one thread.
struct Action {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  std::uint64_t mask;  // one bit a signal, as the kernel counts them
};
using Mask = std::uint64_t;
constexpr int kLastSignal = 64;
bool SetAction(int sig, const Action* action, Action* old) {
  return syscall(SYS_rt_sigaction, sig, action, old, sizeof(Mask)) == 0;
}
void SetMask(int how, const Mask* mask, Mask* old) {
  syscall(SYS_rt_sigprocmask, how, mask, old, sizeof(Mask));
}
// The action that runs `handler` with every signal blocked; glibc's own
// sigaction supplies the return from it, which the kernel's call needs too.
Action Handling(void (*handler)(int)) {
  struct sigaction glibc = {}, before;
  glibc.sa_handler = handler;
  Action action = {};
  if (sigaction(SIGTERM, &glibc, &before) == 0) {
    SetAction(SIGTERM, nullptr, &action);
    sigaction(SIGTERM, &before, nullptr);
  }
  action.mask = ~Mask{0};
  return action;
}
void DefaultAction(int sig) {
  const Action action = {};  // SIG_DFL
  SetAction(sig, &action, nullptr);
}
bool IsDefault(const Action& action) {
  return action.handler == SIG_DFL;
}
Mask Blocked(const Action& action) {
  return action.mask;
}
#else
using Action = struct sigaction;
using Mask = sigset_t;
constexpr int kLastSignal = NSIG - 1;
bool SetAction(int sig, const Action* action, Action* old) {
  return sigaction(sig, action, old) == 0;
}
void SetMask(int how, const Mask* mask, Mask* old) {
  sigprocmask(how, mask, old);
}
Action Handling(void (*handler)(int)) {
  Action action = {};
  action.sa_handler = handler;
  sigfillset(&action.sa_mask);
  return action;
}
void DefaultAction(int sig) {
  signal(sig, SIG_DFL);
}
bool IsDefault(const Action& action) {
  return action.sa_handler == SIG_DFL;
}
Mask Blocked(const Action& action) {
  return action.sa_mask;
}
#endif

Mask g_interrupts;  // every signal that can be blocked
Mask g_maskBeforeHold;
int g_holdDepth = 0;

// The file that an interrupt removes: its folder and its name there. The
// handler reads them; they change only while interrupts are held, so the
// handler always finds them whole.
int g_removeFolder = AT_FDCWD;
char g_removeName[4096];
int g_removeFile = -1;  // the open file, emptied where it cannot be removed
volatile sig_atomic_t g_removeSet = 0;

// The signals that by default are ignored, continue or stop the process;
// every other one would end the run. (KILL and STOP take no handler.)
constexpr int kHarmless[] = {SIGCHLD, SIGCONT, SIGURG, SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU};

// RemoveFile and EmptyFile, safe in a signal handler.
bool Unlink(int folder, const char* name) {
  return unlinkat(folder, name, 0) == 0;
}
void Truncate(int folder, const char* name, int file) {
  if (file >= 0) {
    ftruncate(file, 0);
    return;
  }
  const int fd = openat(folder, name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) close(fd);
}

// Runs with every signal blocked, so a second one cannot cut in before the
// file is gone (no test can time two signals that close); then ends the
// process as the signal would have.
void RemoveAndDie(int signalNumber) {
  if (g_removeSet && !Unlink(g_removeFolder, g_removeName)) {
    Truncate(g_removeFolder, g_removeName, g_removeFile);
  }
  g_removeSet = 0;
  DefaultAction(signalNumber);
  kill(getpid(), signalNumber);  // takes effect as the handler returns
}

// A name relative to the folder: "." for the folder itself.
const char* InFolder(const std::string& name) {
  return name.empty() ? "." : name.c_str();
}

#ifdef __linux__
// The access ACL of the earlier file `like` goes to the new file `fd`, with
// its owner, group-class and other permissions no wider than `mode`, and
// one that the new file took from its folder's default ACL goes unless the
// earlier file had one too: a user whom the earlier file shut out must not
// read the new one. False when that is not known to be done. There is no
// getxattr relative to a folder: the name goes through the folder's entry
// in /proc, or, where that is missing, the earlier file is opened.
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
    if (errno == ENOTSUP) return true;  // no ACLs here: the permission bits are all
    return errno == ENODATA && (fremovexattr(fd, kName) == 0 || errno == ENODATA);
  }
  // After a 4-byte version, entries of 8 bytes: a 2-byte tag, 2-byte
  // permissions and a 4-byte id, little-endian. The group class is the mask
  // where there is one, else the owning group's entry.
  constexpr unsigned kOwner = 0x01, kGroup = 0x04, kMask = 0x10, kOther = 0x20;
  const auto entry = [&](unsigned tag) -> char* {
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(acl + at);
      if ((bytes[0] | unsigned{bytes[1]} << 8) == tag) {
        return acl + at + 2;
      }
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
#else
bool CopyAccessAcl(int, const std::string&, int, mode_t) {
  return true;  // no ACL calls: the permission bits only
}
#endif

}  // namespace

void PrepareProcess() {
  // A closed pipe on standard output must not kill the run, and an output
  // that reaches the file size limit must fail its write, so that the
  // unfinished file is removed rather than left behind.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Every other signal that would end the process removes the temporary
  // file first. One that the caller ignores (nohup, a shell's background
  // job) stays ignored, and one that has a handler already (a sanitizer's)
  // keeps it: one call a signal sets the handler and returns what was there,
  // which is then put back. Every signal waits meanwhile, and one that came
  // for an ignored signal is dropped as that is put back.
  const Action action = Handling(RemoveAndDie);
  g_interrupts = Blocked(action);
  HoldInterrupts();
  for (int sig = 1; sig <= kLastSignal; ++sig) {
    Action old;
    if (std::count(std::begin(kHarmless), std::end(kHarmless), sig) == 0 &&
        SetAction(sig, &action, &old) && !IsDefault(old)) {
      SetAction(sig, &old, nullptr);
    }
  }
  ReleaseInterrupts();
  // Started with standard input, output or error closed, the files opened
  // later would take their numbers, and a message could land in the output.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) break;
  }
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  if (argc < 2) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

LeadByteSet CodePageLeadBytes() {
  // A lead byte is one that the C library takes as the start of an
  // unfinished character, in a multi-byte character set that is not UTF-8:
  // Shift_JIS, GBK, Big5, and GB18030, whose four-byte characters have a
  // digit for their second and fourth bytes, so that a delimiter is never
  // the trail of a run of lead bytes. UTF-8 never hides an ASCII byte in a
  // character, and single-byte sets have none.
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

std::uint64_t RandomNumber() {
  // From the system's random source; where that fails, the process number
  // and a count, which at least keep two runs and two names apart.
  static std::uint64_t count = 0;
  std::uint64_t number = 0;
  if (getentropy(&number, sizeof number) != 0) {
    number = (static_cast<std::uint64_t>(getpid()) << 32) + ++count;
  }
  return number;
}

void ExitProcess(int status) {
  std::exit(status);
}

void KeepMessageShown() {}  // a terminal keeps what was printed

FileHandle StandardOutput() {
  return STDOUT_FILENO;
}

const char* LineEnd() {
  return "\n";
}

const char* FolderSeparators() {
  return "/";
}

FileHandle OpenRegularFile(const Folder& folder, const std::string& name) {
  // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below. On
  // a regular file it changes nothing, but for a lease.
  const int dir = Fd(folder.handle);
  int fd = openat(dir, InFolder(name), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#ifdef O_PATH
  if (fd < 0 && errno == EWOULDBLOCK) {
    // A lease holds the file (a Samba oplock, an NFS delegation): the open
    // waits for its holder to let go, as cat's does, through the very file
    // found, which is no FIFO.
    const int found = openat(dir, InFolder(name), O_PATH | O_CLOEXEC);
    struct stat st;
    if (found >= 0 && fstat(found, &st) == 0 && S_ISREG(st.st_mode)) {
      const std::string path = "/proc/self/fd/" + std::to_string(found);
      fd = RetryAfterSignal([&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    }
    if (found >= 0) close(found);
  }
#endif
  if (fd < 0) return kInvalidHandle;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kInvalidHandle;
  }
  return fd;
}

std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  return RetryAfterSignal([&] { return read(Fd(file), buffer, count); });
}

std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  return RetryAfterSignal([&] { return write(Fd(file), buffer, count); });
}

bool SeekTo(FileHandle file, std::uint64_t offset) {
  return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::int64_t FileSize(FileHandle file) {
  struct stat st;
  return fstat(Fd(file), &st) == 0 ? st.st_size : -1;
}

bool Close(FileHandle file) {
  return close(Fd(file)) == 0;
}

bool OpenFolder(const std::string& path, Folder& folder) {
  // Opened for the *at calls only: a folder that this user may write and
  // enter but not list is a folder like any other.
#ifdef O_PATH
  const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  const int fd = RetryAfterSignal([&] { return open(path.empty() ? "." : path.c_str(), flags); });
  if (fd < 0) return false;
  folder.handle = fd;
  folder.path = path;
  return true;
}

bool MayReplace(const Folder& folder, const std::string& name, FileHandle input) {
  const int dir = Fd(folder.handle);
  struct stat out;
  if (fstatat(dir, InFolder(name), &out, 0) != 0) return errno == ENOENT;
  struct stat in;
  if (fstat(Fd(input), &in) != 0) return false;
  if (S_ISDIR(out.st_mode)) return false;
  if (out.st_dev == in.st_dev && out.st_ino == in.st_ino) return false;
  if (faccessat(dir, InFolder(name), W_OK, AT_EACCESS) != 0) return false;
  // A sticky folder (as /tmp) lets only the owner of a file or of the folder
  // replace it, and root.
  struct stat here;
  const uid_t user = geteuid();
  if (user != 0 && (fstat(dir, &here) != 0 ||
                    ((here.st_mode & S_ISVTX) && out.st_uid != user && here.st_uid != user))) {
    return false;
  }
#ifdef FS_IOC_GETFLAGS
  // Nor can anybody replace an append-only or immutable file. One that this
  // user may not read is found out by the move; anything but a regular file
  // (a device, whose open may act) is not opened.
  const int fd = S_ISREG(out.st_mode)
                     ? openat(dir, InFolder(name), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                     : -1;
  if (fd >= 0) {
    int flags = 0;
    const bool fixed =
        ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL));
    close(fd);
    if (fixed) return false;
  }
#endif
  return true;
}

FileHandle CreateNewFile(const Folder& folder, const std::string& name, const std::string& like,
                         CreateFailure& why) {
  // A new output gets the permissions of any new file (0666 less the umask).
  // Where an earlier file may be there, only its owner may open the new one
  // until TakeProtection has made it like that file, so that nobody whom the
  // earlier file shut out holds it open meanwhile.
  struct stat earlier;
  const bool none = fstatat(Fd(folder.handle), InFolder(like), &earlier, AT_SYMLINK_NOFOLLOW) != 0
                        ? errno == ENOENT
                        : !S_ISREG(earlier.st_mode);
  const int fd = RetryAfterSignal([&] {
    return openat(Fd(folder.handle), InFolder(name),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, none ? 0666 : 0600);
  });
  if (fd < 0) {
    why = errno == EEXIST ? CreateFailure::kNameTaken : CreateFailure::kOther;
    return kInvalidHandle;
  }
  why = CreateFailure::kNone;
  return fd;
}

bool TakeProtection(const Folder& folder, const std::string& like, FileHandle file) {
  const int dir = Fd(folder.handle);
  const int fd = Fd(file);
  // A symbolic link in the earlier file's place lends nothing: the move
  // replaces the link, not what it points to, and a planted link must not
  // choose the new file's owner.
  struct stat earlier;
  if (fstatat(dir, InFolder(like), &earlier, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISREG(earlier.st_mode)) return true;
  // The owner can be given away only by root, the group by a member of it;
  // what the process may not keep stays its own, and a group that is not
  // kept gets no more than everybody else. The ACL comes narrowed to the
  // mode, so that it opens the file to nobody whom the mode then shuts out,
  // and the mode comes last, as a change of owner may clear some of its
  // bits.
  const bool groupKept = fchown(fd, earlier.st_uid, earlier.st_gid) == 0 ||
                         fchown(fd, static_cast<uid_t>(-1), earlier.st_gid) == 0;
  mode_t mode = earlier.st_mode & 0777;
  if (!groupKept) mode &= ~(070 & ~((mode & 07) << 3));
  return CopyAccessAcl(dir, like, fd, mode) && fchmod(fd, mode) == 0;
}

bool MoveReplacing(const Folder& folder, const std::string& from, const std::string& to) {
  const int dir = Fd(folder.handle);
  return renameat(dir, InFolder(from), dir, InFolder(to)) == 0;
}

bool RemoveFile(const Folder& folder, const std::string& name) {
  return Unlink(Fd(folder.handle), InFolder(name));
}

void EmptyFile(const Folder& folder, const std::string& name, FileHandle file) {
  Truncate(Fd(folder.handle), InFolder(name), Fd(file));
}

void HoldInterrupts() {
  if (g_holdDepth++ == 0) SetMask(SIG_BLOCK, &g_interrupts, &g_maskBeforeHold);
}

void ReleaseInterrupts() {
  // A signal that came meanwhile is delivered before sigprocmask returns.
  if (--g_holdDepth == 0) SetMask(SIG_SETMASK, &g_maskBeforeHold, nullptr);
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
  // Delivered at once, unless interrupts are held or the signal is ignored.
  // (glibc's raise refuses 32 and 33.)
  return kill(getpid(), signalNumber) == 0;
}
#endif

}  // namespace platform::os
