// Runs the built program on files in a scratch directory and checks what it
// prints, its exit status and the files it leaves, byte for byte.

#include <fcntl.h>
#include <linux/fs.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>
#include <sstream>

#include "support/Scenario.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// Reads `count` bytes at `offset` without loading the whole file.
Bytes ReadAt(const fs::path& path, std::uint64_t offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  Bytes bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// `path` as a Windows program under Wine names it.
std::string WindowsName(const fs::path& path) {
  std::string name = "Z:" + path.string();
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

class EndToEnd : public ::testing::Test {
 protected:
  void Put(const std::string& name, const Bytes& bytes) { WriteFile(dir_ / name, bytes); }

  ScratchDir dir_;
};

// What each command line and input gives: the status and its message (or
// the banner), and the output it writes beside its input, byte for byte.
// An earlier voice.wss is replaced by a conversion and kept by a refusal;
// every other file stays as it was, and nothing else is left behind. Rows
// with a locale run natively in it; rows with a code page run under Wine in
// that code page alone (BRONTA_CODE_PAGE), against bronta.exe, whose
// manifest makes it UTF-8 (Windows 10 version 1903 and later), and against
// BRONTA_PROGRAM_WITHOUT_MANIFEST, as an older Windows runs it.
TEST_F(EndToEnd, EachCommandLineGivesItsStatusAndOutput) {
  const Bytes abcd = CanonicalWav(8000, "abcd");
  const Bytes samples = Pattern(2000);
  const Bytes fmt = Chunk("fmt ", PcmFormat(11025));
  const Bytes earlier = "earlier output, longer than some of the new ones will be...........";
  // Names at the system's limit, whose temporary file takes a name no
  // longer than the output's: natively the longest name of a file (255
  // bytes); under Wine the longest path that the ANSI calls take (MAX_PATH,
  // 260 with the final 0), given in full, with a long name and with the
  // shortest name in a deep folder.
  const std::string prefix = UnderWine() ? WindowsName(dir_.path()) + "\\" : "";
  ASSERT_LT(prefix.size() + 10, 259u) << "TMPDIR is too deep for a MAX_PATH name";
  const std::size_t room = UnderWine() ? 259 - prefix.size() - 4 : 251;
  const std::string longName(room, 'n');
  const std::string deepName =
      UnderWine() ? std::string(room - 1, 'd') + "/" : std::string(room, 'm');
  std::string deepArgument = prefix + deepName + ".wav";
  std::replace(deepArgument.begin(), deepArgument.end(), '/', UnderWine() ? '\\' : '/');
  // Double-byte names: a second byte 5C is no backslash (natively in
  // Shift_JIS and GB18030; under Wine in code page 932, which Wine takes
  // from UTF-8 names). In code page 1252, a name that the code page lacks is
  // refused without the manifest, and a look-alike in the code page
  // (fullwidth letters read as ASCII ones, a fullwidth solidus as "/") is
  // never converted in its place.
  std::string cjk;  // 81 characters, 243 bytes in UTF-8: the temporary name takes a short one
  for (int i = 0; i < 81; ++i) cjk += "\xE9\x9F\xB3";
  const std::string fullwidthTest = "\xEF\xBD\x94\xEF\xBD\x85\xEF\xBD\x93\xEF\xBD\x94";
  const std::string cyrillic = "\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA";
  fs::create_directories(dir_ / "snd.old");
  fs::create_directories(dir_ / "sub");
  if (UnderWine()) fs::create_directory(dir_ / deepName);
  for (const std::string& name : std::vector<std::string>{
           "my voice.wav", "snd.old/voice", "-h", "same.wss", "hard.wav", "soft.wav", "loop.wav",
           "x.\x83\x5C", "a.b\x83\x5C", "x.\xE3\x82\xBD", cjk + ".wav", fullwidthTest + ".wav",
           "sub\xEF\xBC\x8Ftest.wav", cyrillic + ".wav", longName + ".wav", deepName + ".wav"}) {
    Put(name, abcd);
  }
  Put("test.wav", CanonicalWav(8000, "look"));  // the look-alikes
  Put("sub/test.wav", CanonicalWav(8000, "look"));
  Put(longName + ".wss", earlier);
  Put("bad.wav", "not a WAV file");
  Put("taken.wav", "not a WAV file");  // refused before it is read
  fs::create_directory(dir_ / "folder.wav");
  fs::create_directory(dir_ / "taken.wss");
  fs::create_hard_link(dir_ / "hard.wav", dir_ / "hard.wss");
  fs::create_symlink("soft.wav", dir_ / "soft.wss");
  fs::create_symlink("loop.wss", dir_ / "loop.wss");
  fs::create_symlink("/proc/self/mem", dir_ / "mem.wav");  // its first read fails
  ASSERT_EQ(mkfifo((dir_ / "fifo.wav").c_str(), 0600), 0);
  Put("voice.wav", abcd);
  Put("voice.wss", earlier);
  // A shell on POSIX hands an empty argument over as one; Windows drops an
  // empty pair of quotes.
  const bool dropsEmpty = UnderWine();
  constexpr int kShowsBanner = -1;
  // Words before the program that only a native run takes.
  const auto Native = [](const std::vector<std::string>& words) {
    return UnderWine() ? std::vector<std::string>{} : words;
  };
  const std::vector<std::string> noLeaks = {"ASAN_OPTIONS=detect_leaks=0"};  // not under strace
  const std::string leased = UnderWine() ? "" : "voice.wav";
  struct {
    const char* what;
    std::vector<std::string> args;
    int status;               // kShowsBanner: the banner, and 0
    std::string output = "";  // the file it writes
    Bytes input = "";         // voice.wav, when not the four samples abcd at 8000 Hz
    Bytes converted = "";     // the output, when not those four samples
    RunOptions options = {};
    std::string where = "";  // a locale, or a code page under Wine
    int statusWithoutManifest = 0;
  } const cases[] = {
      // clang-format off
      {"no argument", {}, kShowsBanner},
      {"an empty argument", {""}, dropsEmpty ? kShowsBanner : 1},
      {"empty, then a name", {"", "voice.wav"}, dropsEmpty ? 0 : 1, dropsEmpty ? "voice.wss" : ""},
      {"a second argument", {"voice.wav", "ignored-second-argument"}, 0, "voice.wss"},
      {"a space in the name", {"my voice.wav"}, 0, "my voice.wss"},
      {"Windows: a \\\\?\\ name, which takes \".\" literally",
       {UnderWine() ? "\\\\?\\" + WindowsName(dir_ / "voice.wav") : "voice.wav"}, 0, "voice.wss"},
      {"a dot in the folder alone", {"snd.old/voice"}, 0, "snd.old/voice.wss"},
      {"no options: -h is a file name", {"-h"}, 0, "-h.wss"},
      {"the longest name", {prefix + longName + ".wav"}, 0, longName + ".wss"},
      {"a short name in a deep folder", {deepArgument}, 0, deepName + ".wss"},
      {"LIST chunks", {"voice.wav"}, 0, "voice.wss", Riff(fmt + Chunk("LIST", "INFOxyz") +
       Chunk("data", samples) + Chunk("LIST", "tail")), Wss(11025, samples, 2000)},
      {"an odd size", {"voice.wav"}, 0, "voice.wss", CanonicalWav(11025, "\x01\x02\x03\x04\x05"),
       Wss(11025, "\x01\x02\x03\x04", 5)},
      {"more announced than there is", {"voice.wav"}, 0, "voice.wss",
       Riff(fmt) + ChunkHead("data", 100) + "\x01\x02\x03\x04\x05",
       Wss(11025, "\x01\x02\x03\x04", 5)},
      {"no samples", {"voice.wav"}, 0, "voice.wss", CanonicalWav(8000, ""), Wss(8000, "", 0)},
      {"a name too long", {std::string(5000, 'w')}, 1},
      {"a missing input", {"missing.wav"}, 1},
      {"an input that is a folder", {"folder.wav"}, 1},
      {"a FIFO (Wine would wait for a writer)", {UnderWine() ? "missing.wav" : "fifo.wav"}, 1},
      {"the output is the input itself", {"same.wss"}, 2},
      {"the output name is a directory", {"taken.wav"}, 2},
      {"the output name is a hard link to the input", {"hard.wav"}, 2},
      {"the output name is a symbolic link to the input", {"soft.wav"}, 2},
      {"the output name is a symbolic link to itself", {"loop.wav"}, 2},
      {"a first read that fails", {UnderWine() ? "bad.wav" : "mem.wav"}, UnderWine() ? 9 : 5},
      {"not a WAV file", {"bad.wav"}, 9},
      {"a broken pipe", {"bad.wav"}, 9, "", "", "", {.standardFiles = RunOptions::kBrokenPipe}},
      // Under Wine the limit would bind the Wine server, not bronta.exe.
      {"a file size limit", {"voice.wav"}, UnderWine() ? 0 : 6, UnderWine() ? "voice.wss" : "",
       CanonicalWav(8000, Pattern(200000)), Wss(8000, Pattern(200000), 200000),
       {.prefix = Native({"prlimit", "--fsize=100000"})}},
      // An input under a lease that its holder takes again whenever it can
      // is read once the lease is broken, with /proc and without.
      {"a lease", {"voice.wav"}, 0, "voice.wss", "", "", {.leased = leased}},
      {"a lease, without /proc", {"voice.wav"}, 0, "voice.wss", "", "",
       {.prefix = geteuid() == 0 ? Native(WithoutProc()) : Native({}), .leased = leased}},
      // An open that fails with EAGAIN (a FUSE file system's) fails, as cat's does.
      {"EAGAIN", {UnderWine() ? "missing.wav" : "voice.wav"}, 1, "", "", "",
       {.environment = noLeaks,
       .prefix = Native({"strace", "-qq", "-o/dev/null", "-P", "voice.wav",
                         "-einject=openat:error=EAGAIN"})}},
      // SIGTERM, ignored by the caller, sent all through a start-up that
      // strace slows down: every rt_sigaction takes 10 ms.
      {"SIGTERM ignored", {"voice.wav"}, 0, "voice.wss", "", "", {.environment = noLeaks,
       .prefix = Native({"strace", "-Dqq", "-o/dev/null",
                         "-einject=rt_sigaction:delay_exit=10000:when=1+"}),
       .ignoredSignals = {SIGTERM}, .repeatedSignal = UnderWine() ? 0 : SIGTERM}},
      // Started by a supervisor that left SIGTERM blocked, and one waiting.
      {"SIGTERM blocked", {"voice.wav"}, 0, "voice.wss", "", "", {.pendingSignals = {SIGTERM}}},
      {"Shift_JIS", {"x.\x83\x5C"}, 0, "x.wss", "", "", {}, "ja_JP.SJIS"},
      {"GB18030", {"a.b\x83\x5C"}, 0, "a.wss", "", "", {}, "zh_CN.GB18030"},
      {"code page 932", {"x.\xE3\x82\xBD"}, 0, "x.wss", "", "", {}, "932"},
      {"a CJK name, short temporary name", {cjk + ".wav"}, 0, cjk + ".wss", "", "", {}, "1252", 1},
      {"fullwidth", {fullwidthTest + ".wav"}, 0, fullwidthTest + ".wss", "", "", {}, "1252", 1},
      {"fullwidth /", {"sub\xEF\xBC\x8Ftest.wav"}, 0, "sub\xEF\xBC\x8Ftest.wss", "", "", {},
       "1252", 1},
      {"Cyrillic", {cyrillic + ".wav"}, 0, cyrillic + ".wss", "", "", {}, "1252", 1},
  };  // clang-format on
  const Tree before = TreeOf(dir_.path());
  const char* const codePage = std::getenv("BRONTA_CODE_PAGE");
  std::string missing;
  for (const auto& c : cases) {
    const bool wineRow = std::isdigit(static_cast<unsigned char>(c.where[0])) != 0;
    if (UnderWine() ? c.where != (codePage ? codePage : "") : wineRow) continue;
    RunOptions options = c.options;
    options.workingDir = dir_.path().string();
    if (!c.where.empty() && !wineRow) {
      const locale_t locale = newlocale(LC_CTYPE_MASK, c.where.c_str(), nullptr);
      if (locale == nullptr) {
        missing += " " + c.where;
        continue;
      }
      freelocale(locale);
      options.environment.push_back("LC_ALL=" + c.where);
    }
    for (const bool manifest : {true, false}) {
      if (!manifest && !wineRow) break;
      SCOPED_TRACE(c.what + std::string(manifest ? "" : ", without the manifest"));
      if (!manifest) options.program = std::getenv("BRONTA_PROGRAM_WITHOUT_MANIFEST");
      const int status = manifest ? c.status : c.statusWithoutManifest;
      Tree expected = before;
      if (!c.input.empty()) Put("voice.wav", expected["voice.wav"] = c.input);
      if (!c.output.empty() && status == 0) {
        expected[c.output] = c.converted.empty() ? Wss(8000, "abcd", 4) : c.converted;
      }
      std::optional<std::string> printed;
      if (status == kShowsBanner) printed = Lines(kBanner);
      if (options.standardFiles != RunOptions::kCaptured) printed = "";
      ExpectRun(RunProgram(c.args, options), std::max(status, 0), dir_.path(), expected, printed);
      Restore(dir_.path(), before);
    }
  }
  if (!missing.empty())
    GTEST_SKIP() << "locales not installed (tools/install-deps.sh test):" << missing;
}

// Who may read the output, and on which file systems it can be written. A
// new output gets the permissions of any new file; one that replaces an
// earlier output gets that file's permission bits and ACL, and its owner
// and group where the user may give them and can name them; a group that
// cannot be kept gets no more than everybody else. No user writes where the
// permissions say it may not, and what rename refuses is refused at the
// final rename. A file system without ACLs, modes or owners (FUSE, FAT)
// converts again and again, and where it folds case the input is never
// replaced by its own output.
TEST_F(EndToEnd, TheOutputIsNeverMoreOpenThanTheEarlierOne) {
  const mode_t mask = umask(0);
  umask(mask);
  if (geteuid() != 0) GTEST_SKIP() << "needs root: to give files to others and run as nobody";
  for (fs::path up = dir_.path().parent_path(); up != up.parent_path(); up = up.parent_path()) {
    if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none) {
      GTEST_SKIP() << "nobody cannot enter " << up << ": set TMPDIR to a folder it can reach";
    }
  }
  // The build tree may lie where nobody cannot enter: a copy runs.
  fs::permissions(dir_.path(), fs::perms::all);
  fs::copy_file(ProgramPath(), dir_ / "bronta");
  const auto Acl = [](std::vector<std::pair<int, int>> entries) {  // tag, permissions
    Bytes acl = Le32(2);
    for (const auto& [tag, perms] : entries) {
      acl += Le16(static_cast<std::uint16_t>(tag)) + Le16(static_cast<std::uint16_t>(perms)) +
             Le32(tag == 2 ? 65534 : ~0u);  // 2: the named user nobody
    }
    return acl;
  };
  // 0644 but none for nobody; rw-, -w- for nobody, 0644; the folder's
  // default: rwx, rw- for nobody, r-x, mask rwx, r-x.
  const Bytes noneForNobody = Acl({{1, 6}, {2, 0}, {4, 4}, {0x10, 4}, {0x20, 4}});
  const Bytes writeOnlyForNobody = Acl({{1, 6}, {2, 2}, {4, 4}, {0x10, 6}, {0x20, 4}});
  const Bytes defaultForNobody = Acl({{1, 7}, {2, 6}, {4, 5}, {0x10, 7}, {0x20, 5}});
  constexpr int kNew = -1, kRunner = -1, kNobody = 65534, kUsers = 100;
  const char* const kFds = "mount -t tmpfs none /proc/$$/fd";
  // No uid_map or gid_map to tell the initial user namespace, no overflow id.
  const char* const kNoIds =
      "mount --bind /dev/null /proc/$$/uid_map && mount --bind /dev/null /proc/$$/gid_map && "
      "mount -t tmpfs none /proc/sys/kernel";
  const char* const kPid1 = "-e inject=unlinkat:error=EPERM unshare -pf";
  const char* const kPid1NoGetrandom =
      "-e inject=getrandom:error=ENOSYS -e inject=unlinkat:error=EPERM unshare -pf";
  // File systems through FUSE, mounted on "out" from the scratch folder;
  // the devices they need are made where a chroot lacks them.
  const std::string kFuse = "{ [ -e /dev/fuse ] || mknod -m 666 /dev/fuse c 10 229; } && ";
  const std::string fat =
      kFuse + "mkfs.vfat -C fat.img 8192 >/dev/null && fusefat -o rw+ fat.img out";
  const std::string exfat =
      kFuse + "{ [ -e /dev/loop-control ] || mknod /dev/loop-control c 10 237; } && " +
      "truncate -s 8M exfat.img && mkfs.exfat exfat.img >/dev/null && dev=$(losetup -f) && " +
      "{ [ -e $dev ] || mknod $dev b 7 ${dev#/dev/loop}; } && losetup $dev exfat.img && " +
      "mount.exfat-fuse $dev out";
  const std::string bindfs = kFuse + "mkdir -p bound && bindfs --xattr-none bound out";
  // The earlier output made beneath, where chown works.
  const std::string ignoresChown = kFuse + "mkdir -p bound && echo -n earlier output >bound/" +
                                   "voice.wss && chown 65534:50 bound/voice.wss && bindfs " +
                                   "--chown-ignore --chgrp-ignore bound out";
  // sshfs to an sftp server that runs as nobody, as nobody's own mount
  // would; allow_other lets root make the files there.
  const std::string sshfs = kFuse + "mkdir -m 777 -p bound && printf '#!/bin/sh\\nexec setpriv " +
                            "--reuid=65534 --regid=65534 --clear-groups " +
                            "/usr/lib/openssh/sftp-server' >sftp && chmod +x sftp && " +
                            "sshfs -o ssh_command=$PWD/sftp,allow_other x:$PWD/bound out";
  struct {
    const char* what;
    int runAs = 0;          // 0: root; kNobody; kUsers: nobody, a member of group 100 too
    const char* caps = "";  // setpriv's, for nobody
    int folderMode = 0777;
    const char* input = "voice.wav";
    int earlierMode = kNew;  // the earlier voice.wss, if any
    int earlierUid = kRunner, earlierGid = kRunner;
    bool link = false;  // voice.wss is the runner's symbolic link to the earlier file
    const Bytes* acl = nullptr;
    const Bytes* folderAcl = nullptr;    // the folder's default ACL
    const char* appendOnly = nullptr;    // made so, as chattr +a makes it: "voice.wss" or "."
    bool badInput = false;               // the input is no WAV file
    const char* hideProc = nullptr;      // run WithoutProc(hideProc)
    bool userNamespace = false;          // as RunOptions says
    const char* strace = nullptr;        // strace's options, and words before the program
    const std::string* mount = nullptr;  // the file system of the folder
    int status = 0;
    int mode = kNew;  // the output's afterwards; the earlier file's when refused
    int uid = kRunner, gid = kRunner;
    bool leftover = false;  // the temporary file stays, truncated: its removal failed
  } const cases[] = {
      // clang-format off
      {.what = "no earlier output"},
      {.what = "earlier 0600", .earlierMode = 0600, .mode = 0600},
      // On a case-sensitive file system voice.WSS and voice.wss are two files.
      {.what = "earlier 0775, the input voice.WSS", .input = "voice.WSS", .earlierMode = 0775,
       .mode = 0775},
      {.what = "earlier 0604 of nobody", .earlierMode = 0604, .earlierUid = kNobody,
       .earlierGid = kNobody, .mode = 0604, .uid = kNobody, .gid = kNobody},
      // rename replaces the link, and what it points to gives the output nothing.
      {.what = "a link to a file 0600 of nobody", .earlierMode = 0600, .earlierUid = kNobody,
       .earlierGid = kNobody, .link = true},
      {.what = "an ACL that shuts nobody out", .earlierMode = 0644, .acl = &noneForNobody,
       .mode = 0644},
      {.what = "a folder's default ACL, none on the earlier output", .earlierMode = 0640,
       .folderAcl = &defaultForNobody, .mode = 0640},
      {.what = "nobody: group root not kept", .runAs = kNobody, .earlierMode = 0664,
       .earlierUid = kNobody, .earlierGid = 0, .mode = 0644},
      {.what = "nobody in group 100: group kept", .runAs = kUsers, .earlierMode = 0664,
       .earlierUid = 0, .earlierGid = kUsers, .mode = 0664, .gid = kUsers},
      {.what = "nobody: a read-only earlier output", .runAs = kNobody, .earlierMode = 0644,
       .earlierUid = 0, .earlierGid = 0, .status = 2, .mode = 0644, .uid = 0, .gid = 0},
      {.what = "nobody: a folder it may not write", .runAs = kNobody, .folderMode = 0755,
       .status = 2},
      {.what = "nobody: a folder it may write but not list, the input voice.WSS",
       .runAs = kNobody, .folderMode = 0333, .input = "voice.WSS"},
      {.what = "nobody: another's output in a sticky folder", .runAs = kNobody,
       .folderMode = 01777, .earlierMode = 0666, .earlierUid = 0, .earlierGid = 0, .status = 2,
       .mode = 0666, .uid = 0, .gid = 0},
      {.what = "nobody with CAP_FOWNER: another's output in a sticky folder", .runAs = kNobody,
       .caps = "--inh-caps=+fowner --ambient-caps=+fowner", .folderMode = 01777,
       .earlierMode = 0666, .earlierUid = 0, .earlierGid = 0, .mode = 0666},
      {.what = "nobody: its own link in a sticky folder to another's file", .runAs = kNobody,
       .folderMode = 01777, .earlierMode = 0666, .earlierUid = 0, .earlierGid = 0, .link = true},
      {.what = "an append-only earlier output", .earlierMode = 0644, .appendOnly = "voice.wss",
       .status = 2, .mode = 0644},
      // Only the file's handle can empty it: its mode 0066 shuts its owner out.
      {.what = "nobody in an append-only folder: another's earlier 0066", .runAs = kNobody,
       .earlierMode = 0066, .earlierUid = 0, .earlierGid = 0, .appendOnly = ".", .status = 2,
       .mode = 0066, .uid = 0, .gid = 0, .leftover = true},
      {.what = "an fstatat of the earlier output that fails", .earlierMode = 0640,
       .strace = "-P voice.wss -e inject=newfstatat:error=EIO", .status = 2, .mode = 0640},
      {.what = "an ACL, without /proc", .earlierMode = 0644, .acl = &noneForNobody,
       .hideProc = kFds, .mode = 0644},
      {.what = "nobody: an ACL it can read neither through /proc nor by opening the file",
       .runAs = kNobody, .earlierMode = 0644, .earlierUid = 0, .earlierGid = 0,
       .acl = &writeOnlyForNobody, .hideProc = kFds, .status = 2, .mode = 0664, .uid = 0,
       .gid = 0},
      {.what = "an ACL that cannot be set", .earlierMode = 0644, .acl = &noneForNobody,
       .strace = "-e inject=fsetxattr:error=EINVAL", .status = 2, .mode = 0644},
      {.what = "a mode that cannot be set", .earlierMode = 0640,
       .strace = "-e inject=fchmod:error=EPERM", .status = 2, .mode = 0640},
      {.what = "a mode that cannot be set, the user's own file as the earlier one",
       .earlierMode = 0600, .strace = "-e inject=fchmod:error=EPERM", .status = 2, .mode = 0600},
      {.what = "an ACL read answered ENOTSUP", .earlierMode = 0640,
       .strace = "-e inject=lgetxattr:error=EOPNOTSUPP", .mode = 0640},
      // No ACLs and no modes: the new file stays as it was made.
      {.what = "no ACLs to remove, no modes to set", .earlierMode = 0640,
       .strace = "-e inject=fremovexattr:error=EOPNOTSUPP -e inject=fchmod:error=EOPNOTSUPP",
       .mode = 0600},
      {.what = "bindfs without extended attributes", .earlierMode = 0640, .mount = &bindfs,
       .mode = 0640},
      {.what = "bindfs that ignores chown: group 50 not kept", .earlierMode = 0660,
       .mount = &ignoresChown, .mode = 0600, .uid = 0, .gid = 0},
      {.what = "nobody on sshfs: a read-only earlier output", .runAs = kNobody, .earlierMode = 0444,
       .mount = &sshfs, .status = 2, .mode = 0444},
      {.what = "FAT through FUSE", .earlierMode = 0700, .mount = &fat, .mode = 0700},
      {.what = "FAT through FUSE, the input voice.WSS", .input = "voice.WSS", .mount = &fat,
       .status = 2},
      {.what = "exFAT through FUSE", .earlierMode = 0777, .mount = &exfat, .mode = 0777},
      // Mounted by root for all: every file shows as root's 0777.
      {.what = "nobody on exFAT through FUSE", .runAs = kNobody, .earlierMode = 0777,
       .mount = &exfat, .mode = 0777, .uid = 0, .gid = 0},
      {.what = "exFAT through FUSE, the input voice.WSS", .input = "voice.WSS", .mount = &exfat,
       .status = 2},
      // Owner and group 65534 are not mapped and read as the overflow id
      // 65534, which maps to 2.
      {.what = "a user namespace: an owner and a group it cannot name", .earlierMode = 0662,
       .earlierUid = kNobody, .earlierGid = kNobody, .userNamespace = true, .mode = 0622},
      // Without the maps no id reads as mapped, and 65534 is the overflow id.
      {.what = "no id maps and no overflow id: owner and group 65534 not given",
       .earlierMode = 0660, .earlierUid = kNobody, .earlierGid = kNobody, .hideProc = kNoIds,
       .mode = 0600},
      // Only the open file's handle can truncate it: its mode 0002 shuts its owner out.
      {.what = "nobody: a failed write and removal", .runAs = kNobody, .earlierMode = 0002,
       .earlierUid = 0, .earlierGid = 0, .strace = "-e inject=unlinkat:error=EPERM prlimit --fsize=40",
       .status = 6, .mode = 0002, .uid = 0, .gid = 0, .leftover = true},
      {.what = "nobody: a signal after the header, and a failed removal", .runAs = kNobody,
       .earlierMode = 0002, .earlierUid = 0, .earlierGid = 0,
       .strace = "-e inject=unlinkat:error=EPERM -e inject=write:signal=SIGINT:when=1",
       .status = 128 + SIGINT, .mode = 0002, .uid = 0, .gid = 0, .leftover = true},
      {.what = "nobody: a signal as the removal fails", .runAs = kNobody, .earlierMode = 0002,
       .earlierUid = 0, .earlierGid = 0,
       .strace = "-e inject=unlinkat:error=EPERM:signal=SIGINT prlimit --fsize=40",
       .status = 128 + SIGINT, .mode = 0002, .uid = 0, .gid = 0, .leftover = true},
      // The removal reported done, as though another file had taken the name
      // since: a signal just then leaves that file alone.
      {.what = "a signal just after the removal", .badInput = true,
       .strace = "-e inject=unlinkat:retval=0:signal=SIGINT:when=1", .status = 128 + SIGINT,
       .leftover = true},
      // Each run is process 1 of a PID namespace of its own, the random
      // source failing or not: every run takes another temporary name.
      {.what = "process 1", .badInput = true, .strace = kPid1, .status = 9, .leftover = true},
      {.what = "process 1 again", .badInput = true, .strace = kPid1, .status = 9, .leftover = true},
      {.what = "process 1, no getrandom", .badInput = true, .strace = kPid1NoGetrandom,
       .status = 9, .leftover = true},
      {.what = "process 1, no getrandom again", .badInput = true, .strace = kPid1NoGetrandom,
       .status = 9, .leftover = true},
  };  // clang-format on
  const Bytes samples = "abcdefghijklmnop";
  const Bytes input = CanonicalWav(8000, samples);
  std::set<std::string> leftovers;
  std::string skipped;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path out = dir_ / "out";
    fs::create_directory(out);
    // What this file system or machine cannot set up skips the row, with the reason.
    const auto Skip = [&](const std::string& why) {
      skipped.append(" ").append(c.what).append(why);
    };
    const auto Shell = [&](const std::string& command) {
      return RunCommand({"sh", "-c", command}, {.workingDir = dir_.path().string()});
    };
    if (const RunResult mounted = c.mount ? Shell(*c.mount + " 2>&1") : RunResult{"", "", 0};
        mounted.status != 0) {
      Skip(": cannot mount: " + mounted.out);
      continue;
    }
    const std::string earlier = c.link ? "earlier" : "voice.wss";
    Tree expected = {{c.input, c.badInput ? "not a WAV file" : input}};
    WriteFile(out / c.input, expected[c.input]);
    const int runner = c.runAs != 0 ? kNobody : 0;
    if (c.earlierMode != kNew) {
      WriteFile(out / earlier, expected[earlier] = "earlier output");
      // A file system without modes or owners keeps its own.
      ASSERT_TRUE(chmod((out / earlier).c_str(), static_cast<mode_t>(c.earlierMode)) == 0 ||
                  c.mount);
      ASSERT_TRUE(chown((out / earlier).c_str(), c.earlierUid, c.earlierGid) == 0 || c.mount);
      if (c.link) fs::create_symlink("earlier", out / "voice.wss");
      ASSERT_TRUE(!c.link || lchown((out / "voice.wss").c_str(), runner, runner) == 0);
      if (c.link) expected["voice.wss"] = "\x01link to earlier";
    }
    ASSERT_TRUE(chmod(out.c_str(), static_cast<mode_t>(c.folderMode)) == 0 || c.mount);
    int flags = FS_APPEND_FL;
    const int flagged = c.appendOnly ? open((out / c.appendOnly).c_str(), O_RDONLY) : -1;
    if ((c.acl && setxattr((out / earlier).c_str(), "system.posix_acl_access", c.acl->data(),
                           c.acl->size(), 0) != 0) ||
        (c.folderAcl && setxattr(out.c_str(), "system.posix_acl_default", c.folderAcl->data(),
                                 c.folderAcl->size(), 0) != 0) ||
        (c.appendOnly && ioctl(flagged, FS_IOC_SETFLAGS, &flags) != 0)) {
      Skip(std::string(": ") + std::strerror(errno) + ";");
      close(flagged);
      fs::remove_all(out);
      continue;
    }
    RunOptions options = {.program = (dir_ / "bronta").string(), .workingDir = out.string()};
    if (c.hideProc) options.prefix = WithoutProc(c.hideProc);
    options.userNamespace = c.userNamespace;
    // LeakSanitizer, in the sanitizer build, cannot run under a tracer.
    options.environment = {"ASAN_OPTIONS=detect_leaks=0"};
    std::string prefix = c.runAs == 0 ? "" : "setpriv --reuid=65534 --regid=65534 ";
    if (c.runAs != 0) {
      prefix += (c.runAs == kUsers ? "--groups=100 " : "--clear-groups ") + std::string(c.caps);
    }
    if (c.strace) prefix += std::string(" strace -D -f -qq -o /dev/null ") + c.strace;
    std::istringstream words(prefix);
    for (std::string word; words >> word;) options.prefix.push_back(word);
    const RunResult result = RunProgram({c.input}, options);
    flags = 0;
    if (c.appendOnly) ioctl(flagged, FS_IOC_SETFLAGS, &flags);
    close(flagged);
    if (result.status == 126 || result.status == 127) {
      Skip(": no namespace, setpriv, strace or unshare here;");
    } else {
      if (c.status == 0) expected["voice.wss"] = Wss(8000, samples, 16);
      const std::size_t files = expected.size();
      for (const auto& [name, bytes] : TreeOf(out)) {
        if (!c.leftover || name.find(".tmp-") == std::string::npos) continue;
        EXPECT_TRUE(leftovers.insert(name).second) << "taken again: " << name;
        expected[name] = "";  // one, truncated, and only where it cannot be removed
      }
      EXPECT_EQ(expected.size(), files + c.leftover) << "no temporary file left";
      ExpectRun(result, c.status, out, expected);
      struct stat st;
      if (expected.count("voice.wss") && lstat((out / "voice.wss").c_str(), &st) == 0 &&
          S_ISREG(st.st_mode)) {
        EXPECT_EQ(st.st_mode & 07777, c.mode == kNew ? 0666 & ~mask : static_cast<mode_t>(c.mode));
        EXPECT_EQ(st.st_uid, static_cast<uid_t>(c.uid == kRunner ? runner : c.uid));
        EXPECT_EQ(st.st_gid, static_cast<gid_t>(c.gid == kRunner ? runner : c.gid));
        char acl[1024];  // the access ACL, as the system stores it
        const ssize_t size =
            lgetxattr((out / "voice.wss").c_str(), "system.posix_acl_access", acl, sizeof acl);
        EXPECT_EQ(Bytes(acl, size > 0 ? static_cast<std::size_t>(size) : 0), c.acl ? *c.acl : "");
      }
    }
    if (c.mount) Shell("umount -d out && rm -f fat.img exfat.img sftp && rm -rf bound");
    fs::remove_all(out);
  }
  if (!skipped.empty()) GTEST_SKIP() << "rows not run:" << skipped;
}

// A data chunk past 4 GiB, of the size 0xFFFFFFFF that a recorder leaves
// when it never came back to fill it in: every byte up to the end is copied.
TEST_F(EndToEnd, CopiesADataChunkPast4GiB) {
  // A sparse input: only the head and two marks take disk space, but the
  // output is written in full.
  const std::uint64_t dataSize = (std::uint64_t{4} << 30) + 7;  // and an odd last byte
  const std::uint64_t needed = dataSize + (std::uint64_t{256} << 20);
  const std::uint64_t available = fs::space(dir_.path()).available;
  if (available < needed) {
    GTEST_SKIP() << "needs " << (needed >> 20) << " MiB free in " << dir_.path().parent_path()
                 << " (TMPDIR), has " << (available >> 20) << " MiB";
  }
  const Bytes head = Riff(Chunk("fmt ", PcmFormat(44100))) + ChunkHead("data", 0xFFFFFFFF);
  Put("big.wav", head + "first");
  fs::resize_file(dir_ / "big.wav", head.size() + dataSize);
  {
    std::fstream file(dir_ / "big.wav", std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(head.size() + dataSize - 5));
    file.write("last!", 5);
  }
  // 4 GiB, under Wine perhaps through qemu too.
  const RunResult result =
      RunProgram({"big.wav"}, {.workingDir = dir_.path().string(), .deadlineSeconds = 280});
  const fs::path wss = dir_ / "big.wss";
  ExpectRun(
      result, 0, dir_.path(),
      {{"big.wav", SizeOnly(head.size() + dataSize)}, {"big.wss", SizeOnly(26 + dataSize - 1)}});
  EXPECT_EQ(ReadAt(wss, 0, 31), Wss(44100, "first", dataSize));
  EXPECT_EQ(ReadAt(wss, 26 + dataSize - 9, 8), Bytes("\0\0\0\0last", 8));
}

}  // namespace
