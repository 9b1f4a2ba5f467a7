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
#include <thread>

#include "support/Files.h"
#include "support/Messages.h"
#include "support/Process.h"
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

// `path` as a Windows program under Wine names it with \\?\, which takes it
// as it is.
std::string Extended(const fs::path& path) {
  std::string name = "\\\\?\\Z:" + path.string();
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

class EndToEnd : public ::testing::Test {
 protected:
  RunResult Convert(const std::vector<std::string>& args, RunOptions options = {}) {
    std::vector<std::string> command = ProgramCommand();
    command.insert(command.end(), args.begin(), args.end());
    options.workingDir = dir_.path().string();
    return RunCommand(command, options);
  }
  void Put(const std::string& name, const Bytes& bytes) { WriteFile(dir_ / name, bytes); }
  Bytes Get(const std::string& name) { return ReadFile(dir_ / name); }

  ScratchDir dir_;
};

// What each command line and input gives: the status and its message (or
// the banner), and the output it writes beside its input, byte for byte.
// An earlier voice.wss is replaced by a conversion and kept by a refusal;
// every other file stays as it was, and nothing else is left behind.
TEST_F(EndToEnd, EachCommandLineGivesItsStatusAndOutput) {
  const Bytes abcd = CanonicalWav(8000, "abcd");
  const Bytes samples = Pattern(2000);
  const Bytes fmt = Chunk("fmt ", PcmFormat(11025));
  const Bytes earlier = "earlier output, longer than some of the new ones will be...........";
  fs::create_directory(dir_ / "snd.old");
  for (const char* name : {"my voice.wav", "snd.old/voice", "-h", "same.wss", "taken.wav",
                           "hard.wav", "soft.wav", "loop.wav"}) {
    Put(name, abcd);
  }
  Put("bad.wav", "not a WAV file");
  fs::create_directory(dir_ / "folder.wav");
  fs::create_directory(dir_ / "taken.wss");
  fs::create_hard_link(dir_ / "hard.wav", dir_ / "hard.wss");
  fs::create_symlink("soft.wav", dir_ / "soft.wss");
  fs::create_symlink("loop.wss", dir_ / "loop.wss");
  fs::create_symlink("/proc/self/mem", dir_ / "mem.wav");  // its first read fails
  ASSERT_EQ(mkfifo((dir_ / "fifo.wav").c_str(), 0600), 0);
  // A shell on POSIX hands an empty argument over as one; Windows drops an
  // empty pair of quotes.
  const bool dropsEmpty = UnderWine();
  constexpr int kShowsBanner = -1;
  const auto With = [](void (*set)(RunOptions&)) {
    RunOptions options;
    set(options);
    return options;
  };
  struct {
    std::vector<std::string> args;
    int status;                    // kShowsBanner: the banner, and 0
    const char* output = nullptr;  // the file it writes
    Bytes input = "";              // voice.wav, when not the four samples abcd at 8000 Hz
    Bytes converted = "";          // the output, when not those four samples
    RunOptions options = {};
  } const cases[] = {
      {{}, kShowsBanner},
      {{""}, dropsEmpty ? kShowsBanner : 1},
      {{"", "voice.wav"}, dropsEmpty ? 0 : 1, dropsEmpty ? "voice.wss" : nullptr},
      {{"voice.wav", "ignored-second-argument"}, 0, "voice.wss"},
      {{"my voice.wav"}, 0, "my voice.wss"},
      // Windows: a name that takes "." literally converts like its plain form.
      {{UnderWine() ? Extended(dir_ / "voice.wav") : "voice.wav"}, 0, "voice.wss"},
      {{"snd.old/voice"}, 0, "snd.old/voice.wss"},
      {{"-h"}, 0, "-h.wss"},  // no options: a file name like any other
      {{"voice.wav"},
       0,
       "voice.wss",
       Riff(fmt + Chunk("LIST", "INFOxyz") + Chunk("data", samples) + Chunk("LIST", "tail")),
       Wss(11025, samples, 2000)},
      {{"voice.wav"},
       0,
       "voice.wss",
       CanonicalWav(11025, "\x01\x02\x03\x04\x05"),
       Wss(11025, "\x01\x02\x03\x04", 5)},  // odd size: the half sample is dropped
      {{"voice.wav"},
       0,
       "voice.wss",
       Riff(fmt) + ChunkHead("data", 100) + "\x01\x02\x03\x04\x05",
       Wss(11025, "\x01\x02\x03\x04", 5)},  // announces more than it holds
      {{"voice.wav"}, 0, "voice.wss", CanonicalWav(8000, ""), Wss(8000, "", 0)},
      {{std::string(5000, 'w')}, 1},
      {{"missing.wav"}, 1},
      {{"folder.wav"}, 1},
      {{UnderWine() ? "missing.wav" : "fifo.wav"}, 1},  // Wine would wait for a writer
      {{"same.wss"}, 2},                                // its output is the input itself
      {{"taken.wav"}, 2},                               // the output name is a directory
      {{"hard.wav"}, 2},  // the output name is a hard link to the input
      {{"soft.wav"}, 2},  // the output name is a symbolic link to the input
      {{"loop.wav"}, 2},  // the output name is a symbolic link to itself
      {{UnderWine() ? "bad.wav" : "mem.wav"}, UnderWine() ? 9 : 5},
      {{"bad.wav"}, 9},
      {{"bad.wav"}, 9, nullptr, "", "", {.standardFiles = RunOptions::kBrokenPipe}},
      // Under Wine the limit would bind the Wine server, not bronta.exe.
      {{"voice.wav"},
       UnderWine() ? 0 : 6,
       UnderWine() ? "voice.wss" : nullptr,
       CanonicalWav(8000, Pattern(200000)),
       Wss(8000, Pattern(200000), 200000),
       With([](RunOptions& o) {
         if (!UnderWine()) o.prefix = {"prlimit", "--fsize=100000"};
       })},
      // An input under a lease is read once its holder lets go, without /proc too.
      {{"voice.wav"}, 0, "voice.wss", "", "", With([](RunOptions& o) {
         o.leased = UnderWine() ? "" : "voice.wav";
         if (geteuid() == 0) o.prefix = kWithoutProcFds;
       })},
      // SIGTERM, ignored by the caller, sent all through a start-up that
      // strace slows down: every rt_sigaction takes 10 ms.
      {{"voice.wav"}, 0, "voice.wss", "", "", With([](RunOptions& o) {
         if (UnderWine()) return;
         o.prefix = {"strace", "-Dqq", "-o/dev/null",
                     "-einject=rt_sigaction:delay_exit=10000:when=1+"};
         o.environment = {"ASAN_OPTIONS=detect_leaks=0"};
         o.ignoredSignals = {SIGTERM};
         o.repeatedSignal = SIGTERM;
       })},
      // Started by a supervisor that left SIGTERM blocked, and one waiting.
      {{"voice.wav"}, 0, "voice.wss", "", "", {.pendingSignals = {SIGTERM}}},
  };
  Put("voice.wav", abcd);
  Put("voice.wss", earlier);
  const auto before = dir_.Names();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no argument" : c.args[0].substr(0, 40));
    const Bytes input = c.input.empty() ? abcd : c.input;
    Put("voice.wav", input);
    Put("voice.wss", earlier);
    const RunResult result = Convert(c.args, c.options);
    EXPECT_EQ(result.status, c.status == kShowsBanner ? 0 : c.status);
    if (c.options.standardFiles == RunOptions::kCaptured) {
      EXPECT_EQ(result.out, c.status == kShowsBanner ? Lines(kBanner) : OutputOfStatus(c.status));
    }
    if (c.output) {
      EXPECT_TRUE(
          SameBytes(Get(c.output), c.converted.empty() ? Wss(8000, "abcd", 4) : c.converted));
      if (std::string(c.output) != "voice.wss") fs::remove(dir_ / c.output);
    } else {
      EXPECT_EQ(Get("voice.wss"), earlier);
    }
    EXPECT_TRUE(SameBytes(Get("voice.wav"), input));
    EXPECT_EQ(dir_.Names(), before);
  }
  EXPECT_EQ(dir_.Names("snd.old"), std::vector<std::string>{"voice"});
  for (const char* name : {"same.wss", "hard.wav", "soft.wav", "loop.wav", "snd.old/voice"}) {
    EXPECT_EQ(Get(name), abcd) << name;
  }
}

// Who may read the output. A new output gets the permissions of any new
// file; one that replaces an earlier output gets that file's permission bits
// and ACL, and its owner and group where the user may give them and can
// name them; a group that cannot be kept gets no more than everybody else.
// No user writes where the permissions say it may not, and what rename
// refuses is refused at the final rename.
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
  const char* const kPid1 = "-e inject=unlinkat:error=EPERM unshare -pf";
  const char* const kPid1NoGetrandom =
      "-e inject=getrandom:error=ENOSYS -e inject=unlinkat:error=EPERM unshare -pf";
  struct {
    const char* what;
    int runAs = 0;          // 0: root; kNobody; kUsers: nobody, a member of group 100 too
    const char* caps = "";  // setpriv's, for nobody
    int folderMode = 0777;
    int earlierMode = kNew;  // the earlier voice.wss, if any
    int earlierUid = kRunner, earlierGid = kRunner;
    bool link = false;  // voice.wss is the runner's symbolic link to the earlier file
    const Bytes* acl = nullptr;
    const Bytes* folderAcl = nullptr;  // the folder's default ACL
    bool appendOnly = false;           // the earlier file's, as chattr +a makes it
    bool badInput = false;             // voice.wav is no WAV file
    bool hideProc = false;             // run with kWithoutProcFds
    bool userNamespace = false;        // as RunOptions says
    const char* strace = nullptr;      // strace's options, and words before the program
    int status = 0;
    int mode = kNew;  // the output's afterwards; the earlier file's when refused
    int uid = kRunner, gid = kRunner;
    bool leftover = false;  // the temporary file stays, emptied: its removal failed
  } const cases[] = {
      // clang-format off
      {.what = "no earlier output"},
      {.what = "earlier 0600", .earlierMode = 0600, .mode = 0600},
      {.what = "earlier 0775", .earlierMode = 0775, .mode = 0775},
      {.what = "earlier 0604 of nobody", .earlierMode = 0604, .earlierUid = kNobody,
       .earlierGid = kNobody, .mode = 0604, .uid = kNobody, .gid = kNobody},
      // rename replaces the link; what it points to gives nothing.
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
      {.what = "nobody: a folder it may write but not list", .runAs = kNobody, .folderMode = 0333},
      {.what = "nobody: another's output in a sticky folder", .runAs = kNobody,
       .folderMode = 01777, .earlierMode = 0666, .earlierUid = 0, .earlierGid = 0, .status = 2,
       .mode = 0666, .uid = 0, .gid = 0},
      {.what = "nobody with CAP_FOWNER: another's output in a sticky folder", .runAs = kNobody,
       .caps = "--inh-caps=+fowner --ambient-caps=+fowner", .folderMode = 01777,
       .earlierMode = 0666, .earlierUid = 0, .earlierGid = 0, .mode = 0666},
      {.what = "nobody: its own link in a sticky folder to another's file", .runAs = kNobody,
       .folderMode = 01777, .earlierMode = 0666, .earlierUid = 0, .earlierGid = 0, .link = true},
      {.what = "an append-only earlier output", .earlierMode = 0644, .appendOnly = true,
       .status = 2, .mode = 0644},
      {.what = "an fstatat of the earlier output that fails", .earlierMode = 0640,
       .strace = "-P voice.wss -e inject=newfstatat:error=EIO", .status = 2, .mode = 0640},
      {.what = "an ACL, without /proc", .earlierMode = 0644, .acl = &noneForNobody,
       .hideProc = true, .mode = 0644},
      {.what = "nobody: an ACL it can read neither through /proc nor by opening the file",
       .runAs = kNobody, .earlierMode = 0644, .earlierUid = 0, .earlierGid = 0,
       .acl = &writeOnlyForNobody, .hideProc = true, .status = 2, .mode = 0664, .uid = 0,
       .gid = 0},
      {.what = "an ACL that cannot be set", .earlierMode = 0644, .acl = &noneForNobody,
       .strace = "-e inject=fsetxattr:error=EINVAL", .status = 2, .mode = 0644},
      {.what = "a mode that cannot be set", .earlierMode = 0640,
       .strace = "-e inject=fchmod:error=EPERM", .status = 2, .mode = 0640},
      // Owner and group 65534 are not mapped and read as the overflow id
      // 65534, which maps to 2.
      {.what = "a user namespace: an owner and a group it cannot name", .earlierMode = 0606,
       .earlierUid = kNobody, .earlierGid = kNobody, .userNamespace = true, .mode = 0606},
      // Only the open file's handle can empty it: its mode 0002 shuts its owner out.
      {.what = "nobody: a failed write and removal", .runAs = kNobody, .earlierMode = 0002,
       .earlierUid = 0, .earlierGid = 0, .strace = "-e inject=unlinkat:error=EPERM prlimit --fsize=27",
       .status = 6, .mode = 0002, .uid = 0, .gid = 0, .leftover = true},
      // Each run is process 1 of a PID namespace of its own, the random
      // source failing or not: every run takes another temporary name.
      {.what = "process 1", .badInput = true, .strace = kPid1, .status = 9, .leftover = true},
      {.what = "process 1 again", .badInput = true, .strace = kPid1, .status = 9, .leftover = true},
      {.what = "process 1, no getrandom", .badInput = true, .strace = kPid1NoGetrandom,
       .status = 9, .leftover = true},
      {.what = "process 1, no getrandom again", .badInput = true, .strace = kPid1NoGetrandom,
       .status = 9, .leftover = true},
  };  // clang-format on
  std::set<std::string> leftovers;
  std::string skipped;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "out");
    fs::create_directory(dir_ / "out");
    Put("out/voice.wav", c.badInput ? "not a WAV file" : CanonicalWav(8000, "abcd"));
    const std::string earlier = c.link ? "out/earlier" : "out/voice.wss";
    const int runner = c.runAs != 0 ? kNobody : 0;
    if (c.earlierMode != kNew) {
      Put(earlier, "earlier output");
      ASSERT_EQ(chmod((dir_ / earlier).c_str(), static_cast<mode_t>(c.earlierMode)), 0);
      ASSERT_EQ(chown((dir_ / earlier).c_str(), c.earlierUid, c.earlierGid), 0);
      if (c.link) fs::create_symlink("earlier", dir_ / "out/voice.wss");
      ASSERT_TRUE(!c.link || lchown((dir_ / "out/voice.wss").c_str(), runner, runner) == 0);
    }
    // What this file system or machine cannot set up skips the row, with the reason.
    const auto Skip = [&](const std::string& why) { skipped += " " + std::string(c.what) + why; };
    int flags = FS_APPEND_FL;
    const int earlierFd = open((dir_ / earlier).c_str(), O_RDONLY);
    if ((c.acl && setxattr((dir_ / earlier).c_str(), "system.posix_acl_access", c.acl->data(),
                           c.acl->size(), 0) != 0) ||
        (c.folderAcl && setxattr((dir_ / "out").c_str(), "system.posix_acl_default",
                                 c.folderAcl->data(), c.folderAcl->size(), 0) != 0) ||
        (c.appendOnly && ioctl(earlierFd, FS_IOC_SETFLAGS, &flags) != 0)) {
      Skip(std::string(": ") + std::strerror(errno) + ";");
      close(earlierFd);
      continue;
    }
    ASSERT_EQ(chmod((dir_ / "out").c_str(), static_cast<mode_t>(c.folderMode)), 0);
    RunOptions options;
    options.workingDir = (dir_ / "out").string();
    if (c.hideProc) options.prefix = kWithoutProcFds;
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
    const RunResult result = RunCommand({(dir_ / "bronta").string(), "voice.wav"}, options);
    flags = 0;
    if (c.appendOnly) ioctl(earlierFd, FS_IOC_SETFLAGS, &flags);
    close(earlierFd);
    if (result.status == 126 || result.status == 127) {
      Skip(": no namespace, setpriv, strace or unshare here;");
      continue;
    }
    EXPECT_EQ(result.status, c.status) << result.err;
    const auto names = dir_.Names("out");
    std::vector<std::string> expected = {"voice.wav"};
    if (c.link) expected.push_back("earlier");
    if (c.earlierMode != kNew || c.status == 0) expected.push_back("voice.wss");
    for (const auto& name : names) {
      if (!c.leftover || name.find(".tmp-") == std::string::npos) continue;
      EXPECT_EQ(fs::file_size(dir_ / "out" / name), 0u) << name;
      EXPECT_TRUE(leftovers.insert(name).second) << "taken again: " << name;
      expected.push_back(name);  // one, and only where it cannot be removed
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected) << "a temporary file left, or none where it cannot be removed";
    struct stat st;
    if (lstat((dir_ / "out/voice.wss").c_str(), &st) != 0) continue;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, c.mode == kNew ? 0666 & ~mask : static_cast<mode_t>(c.mode));
    EXPECT_EQ(st.st_uid, static_cast<uid_t>(c.uid == kRunner ? runner : c.uid));
    EXPECT_EQ(st.st_gid, static_cast<gid_t>(c.gid == kRunner ? runner : c.gid));
    EXPECT_EQ(Get("out/voice.wss"), c.status == 0 ? Wss(8000, "abcd", 4) : "earlier output");
    char acl[1024];  // the access ACL, as the system stores it
    const ssize_t size =
        lgetxattr((dir_ / "out/voice.wss").c_str(), "system.posix_acl_access", acl, sizeof acl);
    EXPECT_EQ(Bytes(acl, size > 0 ? static_cast<std::size_t>(size) : 0), c.acl ? *c.acl : "");
    if (c.link) {
      EXPECT_EQ(Get("out/earlier"), "earlier output");
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << "rows not run:" << skipped;
}

// An output whose name is as long as the system allows can be written: its
// temporary file beside it then takes a name no longer than the output's.
// Natively that is the longest name of a file; under Wine, the longest path
// that the ANSI calls take (MAX_PATH, 260 with the final 0), given in full,
// both with a long name and with the shortest name in a deep folder.
TEST_F(EndToEnd, WritesAnOutputNameAtTheSystemsLimit) {
  std::string prefix;  // how the argument names the scratch directory
  std::vector<std::pair<std::string, std::string>> cases;  // a folder in it, the input's name
  if (UnderWine()) {
    prefix = "Z:" + dir_.path().string() + "/";
    std::replace(prefix.begin(), prefix.end(), '/', '\\');
    ASSERT_LT(prefix.size() + 10, 259u) << "TMPDIR is too deep for a MAX_PATH name";
    const std::size_t room = 259 - prefix.size() - 4;
    cases = {{"", std::string(room, 'n') + ".wav"}, {std::string(room - 1, 'd'), ".wav"}};
  } else {
    cases = {{"", std::string(251, 'n') + ".wav"}};  // 255 bytes, the longest name on Linux
  }
  for (const auto& [folder, input] : cases) {
    const std::string output = input.substr(0, input.size() - 4) + ".wss";
    const std::string in = folder.empty() ? "" : folder + "/";
    if (!folder.empty()) fs::create_directory(dir_ / folder);
    Put(in + input, CanonicalWav(8000, "abcd"));
    for (bool earlier : {false, true}) {
      SCOPED_TRACE(in + input + (earlier ? ", replacing an earlier output" : ", a new output"));
      if (earlier) Put(in + output, "earlier output");
      const RunResult result = Convert({prefix + (folder.empty() ? "" : folder + "\\") + input});
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(Get(in + output), Wss(8000, "abcd", 4));
      EXPECT_EQ(dir_.Names(folder), (std::vector<std::string>{input, output}));
    }
    fs::remove(dir_ / (in + input));
    fs::remove(dir_ / (in + output));
  }
}

TEST_F(EndToEnd, CopiesADataChunkLargerThan2GiB) {
  // A sparse input: only the head and two marks take disk space, but the
  // output is written in full.
  const std::uint64_t dataSize = 0x90000001;  // 2.25 GiB and one odd byte
  const std::uint64_t needed = dataSize + (std::uint64_t{256} << 20);
  const std::uint64_t available = fs::space(dir_.path()).available;
  if (available < needed) {
    GTEST_SKIP() << "needs " << (needed >> 20) << " MiB free in " << dir_.path().parent_path()
                 << " (TMPDIR), has " << (available >> 20) << " MiB";
  }
  const Bytes head = Riff(Chunk("fmt ", PcmFormat(44100))) + ChunkHead("data", dataSize);
  Put("big.wav", head + "first");
  fs::resize_file(dir_ / "big.wav", head.size() + dataSize);
  {
    std::fstream file(dir_ / "big.wav", std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(head.size() + dataSize - 5));
    file.write("last!", 5);
  }
  RunOptions slow;  // 2.25 GiB, under Wine perhaps through qemu too
  slow.deadlineSeconds = 250;
  const RunResult result = Convert({"big.wav"}, slow);
  EXPECT_EQ(result.out, "");
  ASSERT_EQ(result.status, 0);
  const fs::path wss = dir_ / "big.wss";
  EXPECT_EQ(fs::file_size(wss), 26 + dataSize - 1);
  EXPECT_EQ(ReadAt(wss, 0, 31), Wss(44100, "first", 1));
  EXPECT_EQ(ReadAt(wss, 26 + dataSize - 9, 8), Bytes("\0\0\0\0last", 8));
  fs::remove(wss);
  fs::remove(dir_ / "big.wav");
}

TEST_F(EndToEnd, TwoRunsAtOnceBothWriteACompleteFile) {
  const Bytes samples = Pattern(8 << 20);
  Put("voice.wav", CanonicalWav(22050, samples));
  RunResult first, second;
  std::thread other([&] { second = Convert({"voice.wav"}); });
  first = Convert({"voice.wav"});
  other.join();
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(SameBytes(Get("voice.wss"), Wss(22050, samples, 0)));
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
}

// File names are byte strings in the ANSI code page (Windows) or the
// locale's character set (POSIX). In a double-byte one, the second byte of
// a character may be 5C, a backslash on its own: it must not end the
// extension search (natively in Shift_JIS and GB18030; under Wine in code
// page 932, which Wine takes from UTF-8 names). Under Wine in code page
// 1252, a name in a script that the code page lacks is taken whole with the
// manifest's UTF-8 code page (Windows 10 version 1903 and later); without
// it (bronta_faulty carries no manifest, as an older Windows reads none) it
// is refused, and a look-alike in the code page (fullwidth letters read as
// ASCII ones, a fullwidth solidus as "/") is never converted in its place.
TEST_F(EndToEnd, NamesInACodePage) {
  const char* wineCodePage = std::getenv("BRONTA_CODE_PAGE");
  const char* withoutManifest = std::getenv("BRONTA_PROGRAM_WITHOUT_MANIFEST");
  if (UnderWine()) {
    ASSERT_TRUE(wineCodePage && withoutManifest)
        << "under Wine: BRONTA_CODE_PAGE and BRONTA_PROGRAM_WITHOUT_MANIFEST name the run";
  }
  std::string cjk;  // 81 characters, 243 bytes in UTF-8: the temporary name takes a short one
  for (int i = 0; i < 81; ++i) cjk += "\xE9\x9F\xB3";
  struct {
    const char* where;  // natively the locale; under Wine the code page
    std::string input;
    std::string output;
    int statusWithoutManifest = 0;
  } const cases[] = {
      {"ja_JP.SJIS", "x.\x83\x5C", "x.wss"},
      {"zh_CN.GB18030", "a.b\x83\x5C", "a.wss"},
      {"932", "x.\xE3\x82\xBD", "x.wss"},
      {"1252", cjk + ".wav", cjk + ".wss", 1},
      {"1252", "\xEF\xBD\x94\xEF\xBD\x85\xEF\xBD\x93\xEF\xBD\x94.wav",  // fullwidth "test"
       "\xEF\xBD\x94\xEF\xBD\x85\xEF\xBD\x93\xEF\xBD\x94.wss", 1},
      {"1252", "sub\xEF\xBC\x8Ftest.wav", "sub\xEF\xBC\x8Ftest.wss", 1},  // a fullwidth solidus
      {"1252", "\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA.wav", "\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA.wss",
       1},  // Cyrillic
  };
  fs::create_directory(dir_ / "sub");
  Put("test.wav", CanonicalWav(8000, "look"));  // the look-alikes
  Put("sub/test.wav", CanonicalWav(8000, "look"));
  std::string missing;
  for (const auto& c : cases) {
    const bool wineRow = std::isdigit(static_cast<unsigned char>(c.where[0])) != 0;
    if (wineRow != UnderWine() || (wineRow && c.where != std::string(wineCodePage))) continue;
    RunOptions options;
    options.workingDir = dir_.path().string();
    if (!wineRow) {
      const locale_t locale = newlocale(LC_CTYPE_MASK, c.where, nullptr);
      if (locale == nullptr) {
        missing += std::string(" ") + c.where;
        continue;
      }
      freelocale(locale);
      options.environment = {std::string("LC_ALL=") + c.where};
    }
    Put(c.input, CanonicalWav(8000, "abcd"));
    const auto before = dir_.Names();
    for (const bool manifest : {true, false}) {
      if (!manifest && !wineRow) break;
      SCOPED_TRACE(std::string(c.where) + (manifest ? "" : " without the manifest") + ": " +
                   c.output.substr(0, 40));
      std::vector<std::string> command = ProgramCommand();
      if (!manifest) command.back() = withoutManifest;
      command.push_back(c.input);
      const RunResult result = RunCommand(command, options);
      const int status = manifest ? 0 : c.statusWithoutManifest;
      EXPECT_EQ(result.status, status);
      EXPECT_EQ(result.out, OutputOfStatus(status));
      if (status == 0) {
        EXPECT_EQ(Get(c.output), Wss(8000, "abcd", 4));
        fs::remove(dir_ / c.output);
      }
      EXPECT_EQ(dir_.Names(), before);
      EXPECT_EQ(dir_.Names("sub"), std::vector<std::string>{"test.wav"});
    }
  }
  if (!missing.empty())
    GTEST_SKIP() << "locales not installed (tools/install-deps.sh test):" << missing;
}

}  // namespace
