// The calls of SystemCalls.inc on Linux, with glibc.

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
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

sigset_t g_maskBeforeBlock;

// The file that a signal removes, set only with signals blocked, so that
// the handler finds it whole.
int g_removeFolder = AT_FDCWD;
char g_removeName[4096];
int g_removeFile = -1;
volatile sig_atomic_t g_removeSet = 0;

// The handler, run with every signal blocked (sa_mask) and the signal's
// action reset to SIG_DFL (SA_RESETHAND): the signal raised again ends the
// process as it would have, once the handler returns.
void RemoveAndDie(int signalNumber) {
  if (g_removeSet && unlinkat(g_removeFolder, g_removeName, 0) != 0) ftruncate(g_removeFile, 0);
  kill(getpid(), signalNumber);
}

// Whether the default action of `sig` ends the process: not for CHLD,
// CONT, URG and WINCH (ignored), nor TSTP, TTIN and TTOU (stopped).
bool EndsProcessByDefault(int sig) {
  for (const int other : {SIGCHLD, SIGCONT, SIGURG, SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU}) {
    if (sig == other) return false;
  }
  return true;
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
// group, is mapped in its user namespace. The initial namespace maps every
// id, which its map shows as one line (the kernel's "%10u %10u %10u\n");
// in another, one that is not mapped reads as the overflow id (65534 where
// /proc is missing).
bool IsMappedId(unsigned id, const std::string& kind) {
  if (ProcFile("/proc/self/" + kind + "_map") == "         0          0 4294967295\n") return true;
  const std::string overflow = ProcFile("/proc/sys/kernel/overflow" + kind);
  char* end = nullptr;
  const unsigned long overflowId = std::strtoul(overflow.c_str(), &end, 10);
  return id != (end == overflow.c_str() ? 65534ul : overflowId);
}

// Opens `name` in `dir` (an O_PATH open with `pathFlags`), and only where
// that is a regular file, and the file `was` describes where given, reopens
// it with `flags` through /proc/self/fd: so nothing swapped in meanwhile (a
// FIFO, a device, a terminal) is opened. -1 and errno ENOENT where /proc is
// missing, ESTALE where it is not that file. (A close that succeeds
// leaves errno as it was.)
int ReopenRegular(int dir, const char* name, int pathFlags, int flags, const struct stat* was) {
  const int path = openat(dir, name, O_PATH | O_CLOEXEC | pathFlags);
  if (path < 0) return -1;
  struct stat st;
  int fd = -1;
  errno = ESTALE;
  if (fstat(path, &st) == 0 && S_ISREG(st.st_mode) &&
      (!was || (st.st_dev == was->st_dev && st.st_ino == was->st_ino))) {
    fd = open(("/proc/self/fd/" + std::to_string(path)).c_str(), flags | O_CLOEXEC);
  }
  close(path);
  return fd;
}

// Opens `name` in `dir` for reading, as cat does. The first open has
// O_NONBLOCK, so that a FIFO is never waited on. Where it meets a lease (a
// Samba oplock) it starts the lease break and fails with EWOULDBLOCK; a
// blocking open then waits until the lease is released or broken, within
// /proc/sys/fs/lease-break-time, and the kernel grants no new lease
// meanwhile. That open goes through ReopenRegular; without /proc, by name.
int OpenForReading(int dir, const char* name, int flags) {
  int fd = openat(dir, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
  if (fd >= 0 || errno != EWOULDBLOCK) return fd;
  fd = ReopenRegular(dir, name, flags, O_RDONLY, nullptr);
  if (fd < 0 && errno == ENOENT) fd = openat(dir, name, O_RDONLY | O_CLOEXEC | flags);
  return fd;
}

// Whether this user may write the regular file `name` in `dir`, which `was`
// describes, asked by an open for writing (without truncating, without
// waiting): on a FUSE mount without default_permissions (sshfs) only the
// server knows, and faccessat answers yes. Only EACCES and EPERM say no;
// anything else (a lease's EWOULDBLOCK, ETXTBSY) is left to rename.
// Without /proc, faccessat.
bool MayWrite(int dir, const char* name, const struct stat& was) {
  const int fd = ReopenRegular(dir, name, O_NOFOLLOW, O_WRONLY | O_NONBLOCK | O_NOCTTY, &was);
  if (fd >= 0) close(fd);
  if (fd < 0 && errno == ENOENT) return faccessat(dir, name, W_OK, AT_EACCESS) == 0;
  return fd >= 0 || (errno != EACCES && errno != EPERM);
}

// Copies the access ACL of the earlier file `like` to `fd`, its owner,
// group-class and other entries narrowed to `mode`, or removes one that
// `fd` took from its folder's default ACL where `like` has none. There is
// no getxattr relative to a folder: the name goes through /proc/self/fd,
// or, where that is missing, the earlier file is opened. A file system
// without ACLs (ENOTSUP: FUSE, FAT) has nothing to copy, nor has a file
// `asEarlier` (CopyPermissions) where the earlier one has no ACL.
bool CopyAccessAcl(int folder, const std::string& like, int fd, mode_t mode, bool asEarlier) {
  static char acl[65536];  // the largest value an extended attribute may have
  const char* const kName = "system.posix_acl_access";
  const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + like;
  ssize_t size = lgetxattr(path.c_str(), kName, acl, sizeof acl);
  if (size < 0 && errno != ENODATA && errno != ENOTSUP) {
    const int earlier = OpenForReading(folder, like.c_str(), O_NOFOLLOW);
    if (earlier < 0) return false;
    size = fgetxattr(earlier, kName, acl, sizeof acl);
    close(earlier);
  }
  if (size < 0) {
    if (errno != ENODATA && errno != ENOTSUP) return false;
    return fremovexattr(fd, kName) == 0 || errno == ENODATA || errno == ENOTSUP ||
           (asEarlier && errno == EPERM);
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

std::vector<std::string> SetUpProcess(int argc, char** argv) {
  // Every signal is blocked while the actions are set, and one found not
  // SIG_DFL (ignored by nohup or a script's `trap '' TERM`, or a
  // sanitizer's handler) is put back before any can be delivered: a signal
  // that came meanwhile for one put back to SIG_IGN is discarded.
  struct sigaction handle = {}, ignore = {}, old;
  handle.sa_handler = RemoveAndDie;
  handle.sa_flags = SA_RESETHAND;
  sigfillset(&handle.sa_mask);
  ignore.sa_handler = SIG_IGN;
  BlockSignals();
  for (int sig = 1; sig < NSIG; ++sig) {
    const struct sigaction& action = sig == SIGPIPE || sig == SIGXFSZ ? ignore : handle;
    // KILL, STOP and glibc's own 32 and 33 refuse any action.
    if (EndsProcessByDefault(sig) && sigaction(sig, &action, &old) == 0 &&
        old.sa_handler != SIG_DFL) {
      sigaction(sig, &old, nullptr);
    }
  }
  UnblockSignals();
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) break;
  }
  return argc < 2 ? std::vector<std::string>{} : std::vector<std::string>(argv + 1, argv + argc);
}

LeadByteSet LeadByteRanges() {
  // The locale's multi-byte character set other than UTF-8: a lead byte is
  // one that mbrtowc takes as the start of an unfinished character. UTF-8
  // never hides an ASCII byte in a character; in GB18030 the second and
  // fourth bytes of a four-byte character are digits, so a delimiter is
  // never the trail of a run of lead bytes there.
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
  // /dev/urandom where a sandbox or an old kernel refuses getrandom.
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
  // folder like any other. The *at calls find the names in it.
  const int fd = open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  folder.handle = fd;
  folder.path = path;
  return true;
}

FileHandle OpenInputFile(const Folder& folder, const std::string& name) {
  const int fd = OpenForReading(Fd(folder.handle), InFolder(name), 0);
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

FileHandle DuplicateFile(FileHandle file) {
  const int fd = fcntl(Fd(file), F_DUPFD_CLOEXEC, 0);
  return fd < 0 ? kInvalidHandle : fd;
}

bool CloseFileHandle(FileHandle file) {
  return close(Fd(file)) == 0;
}

bool MayReplace(const Folder& folder, const std::string& name, FileHandle input,
                EarlierFile& earlier) {
  // One fstatat, not following a link: rename replaces the link itself. A
  // link is followed only to see whether it leads to the input. Refused
  // here: a directory, a file this user may not write (MayWrite; for a
  // link, faccessat; root may), the input; whatever else may not be
  // replaced (a sticky folder, append-only), rename refuses.
  const int dir = Fd(folder.handle);
  struct stat out, in;
  if (fstatat(dir, InFolder(name), &out, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  earlier = {S_ISREG(out.st_mode), out.st_mode & 0777u, out.st_uid, out.st_gid};
  if (S_ISLNK(out.st_mode) && fstatat(dir, InFolder(name), &out, 0) != 0) return errno == ENOENT;
  return fstat(Fd(input), &in) == 0 && !S_ISDIR(out.st_mode) &&
         !(out.st_dev == in.st_dev && out.st_ino == in.st_ino) &&
         (earlier.regular ? MayWrite(dir, InFolder(name), out)
                          : faccessat(dir, InFolder(name), W_OK, AT_EACCESS) == 0);
}

FileHandle CreateNewFile(const Folder& folder, const std::string& name, const EarlierFile& earlier,
                         CreateFailure& why) {
  // O_EXCL: never a file or link already there. Mode 0600 until
  // CopyPermissions where there is an earlier file, else that of any new file.
  const int fd = openat(Fd(folder.handle), InFolder(name), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        earlier.regular ? 0600 : 0666);
  why = fd >= 0           ? CreateFailure::kNone
        : errno == EEXIST ? CreateFailure::kNameTaken
                          : CreateFailure::kOther;
  return fd < 0 ? kInvalidHandle : fd;
}

bool CopyPermissions(const Folder& folder, const std::string& like, const EarlierFile& earlier,
                     FileHandle file) {
  if (!earlier.regular) return true;
  // The owner can be given only by root, the group by a member of it
  // (fchown), and an id that the user namespace does not map would name
  // someone else. The group counts as kept where fstat shows it (bindfs
  // --chgrp-ignore answers 0 and keeps none); a group not kept gets no
  // more than others. The ACL is copied narrowed to the mode, and the mode
  // set last, as fchown may clear some of its bits.
  const int fd = Fd(file);
  const uid_t uid = IsMappedId(earlier.owner, "uid") ? earlier.owner : static_cast<uid_t>(-1);
  const gid_t gid = IsMappedId(earlier.group, "gid") ? earlier.group : static_cast<gid_t>(-1);
  if (fchown(fd, uid, gid) != 0) fchown(fd, static_cast<uid_t>(-1), gid);
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  mode_t mode = earlier.mode;
  if (st.st_gid != gid) mode &= ~(070 & ~((mode & 07) << 3));
  // A file that fstat shows as another's, already as the earlier one was
  // (FAT or exFAT mounted for all users), has nothing to be given: the
  // system's EPERM is no failure there. A file system without modes
  // (FAT: ENOSYS) keeps the file as it was made.
  const bool asEarlier = st.st_uid != geteuid() && st.st_uid == earlier.owner &&
                         st.st_gid == earlier.group && (st.st_mode & 0777) == mode;
  return CopyAccessAcl(Fd(folder.handle), like, fd, mode, asEarlier) &&
         (fchmod(fd, mode) == 0 || errno == ENOSYS || errno == ENOTSUP ||
          (asEarlier && errno == EPERM));
}

bool FileExists(const Folder& folder, const std::string& name) {
  struct stat st;
  return fstatat(Fd(folder.handle), InFolder(name), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool MoveReplacing(const Folder& folder, const std::string& from, FileHandle,
                   const std::string& to) {
  const int dir = Fd(folder.handle);
  return renameat(dir, InFolder(from), dir, InFolder(to)) == 0;
}

bool RemoveFile(const Folder& folder, const std::string& name) {
  return unlinkat(Fd(folder.handle), InFolder(name), 0) == 0;
}

void TruncateFile(FileHandle file) {
  if (ftruncate(Fd(file), 0) != 0) return;  // nothing more to try
}

void BlockSignals() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &g_maskBeforeBlock);
}

void UnblockSignals() {
  sigprocmask(SIG_SETMASK, &g_maskBeforeBlock, nullptr);
}

bool SetFileRemovedOnSignal(const Folder& folder, const std::string& name, FileHandle file) {
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
