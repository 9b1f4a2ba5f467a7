// Runs the built program on files in a scratch directory and checks what it
// prints, its exit status and the files it leaves, byte for byte.

#include <locale.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/Files.h"
#include "support/Messages.h"
#include "support/Process.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

bool UnderWine() {
  return ProgramCommand().size() > 1;
}

// Reads `count` bytes at `offset` without loading the whole file.
Bytes ReadAt(const fs::path& path, std::uint64_t offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  Bytes bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
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

TEST_F(EndToEnd, WithoutArgumentsPrintsTheBanner) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {""}, {"", ""}}) {
    const RunResult result = Convert(args);
    EXPECT_EQ(result.out, Lines(kBanner));
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_TRUE(dir_.Names().empty());
}

// One WAV file in, with an earlier voice.wss beside it: a conversion replaces
// that file, a refusal leaves it as it was, and nothing else is left behind.
TEST_F(EndToEnd, ConvertsOrRefusesEachInput) {
  const Bytes samples = Pattern(2000);
  const Bytes fmt = Chunk("fmt ", PcmFormat(11025));
  const Bytes earlier = "earlier output, longer than some of the new ones will be...........";
  struct {
    const char* what;
    Bytes input;
    int status;
    Bytes output;  // the new voice.wss when the status is 0
  } const cases[] = {
      {"canonical", CanonicalWav(11025, samples), 0, Wss(11025, samples, 2000)},
      {"chunks before and after the samples",
       Riff(fmt + Chunk("LIST", "INFOxyz") + Chunk("data", samples) + Chunk("LIST", "tail")), 0,
       Wss(11025, samples, 2000)},
      {"odd size: the half sample is dropped", CanonicalWav(11025, "\x01\x02\x03\x04\x05"), 0,
       Wss(11025, "\x01\x02\x03\x04", 5)},
      {"announces more than it holds", Riff(fmt) + ChunkHead("data", 100) + "\x01\x02\x03\x04\x05",
       0, Wss(11025, "\x01\x02\x03\x04", 5)},
      {"70000 sample bytes", CanonicalWav(8000, Pattern(70000)), 0,
       Wss(8000, Pattern(70000), 70000)},
      {"no samples", CanonicalWav(8000, ""), 0, Wss(8000, "", 0)},
      {"not a WAV file", "not a wav file at all", 9, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put("voice.wav", c.input);
    Put("voice.wss", earlier);
    const RunResult result = Convert({"voice.wav"});
    EXPECT_EQ(result.out, OutputOfStatus(c.status));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(Get("voice.wav"), c.input);
    EXPECT_EQ(Get("voice.wss"), c.status == 0 ? c.output : earlier);
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
  }
}

TEST_F(EndToEnd, NamesTheOutputBesideTheInput) {
  fs::create_directory(dir_ / "snd.old");
  struct {
    const char* input;
    const char* output;
  } const cases[] = {
      {"snd.old/voice", "snd.old/voice.wss"},
      {"snd.old/SHOT.WAV", "snd.old/SHOT.wss"},
      {"snd.old/a.b.wav", "snd.old/a.b.wss"},
      {"-h", "-h.wss"},  // no options: a file name like any other
  };
  for (const auto& c : cases) {
    Put(c.input, CanonicalWav(8000, "abcd"));
    const RunResult result = Convert({c.input, "ignored-second-argument"});
    EXPECT_EQ(result.out, "") << c.input;
    EXPECT_EQ(result.status, 0) << c.input;
    EXPECT_EQ(Get(c.output), Wss(8000, "abcd", 4)) << c.input;
  }
}

// Inputs that cannot be opened, and outputs that would be the input itself
// or no file at all: the run is refused and every file stays as it was.
TEST_F(EndToEnd, RefusesInputsAndOutputsItCannotUse) {
  const Bytes input = CanonicalWav(8000, "abcd");
  Put("voice.wss", input);
  fs::create_directory(dir_ / "folder.wav");
  fs::create_directory(dir_ / "taken.wss");
  Put("taken.wav", input);
  Put("hard.wav", input);
  fs::create_hard_link(dir_ / "hard.wav", dir_ / "hard.wss");
  Put("soft.wav", input);
  fs::create_symlink("soft.wav", dir_ / "soft.wss");
  struct {
    const char* input;
    int status;
  } const cases[] = {
      {"missing.wav", 1}, {"folder.wav", 1}, {"voice.wss", 2},  // its output is the input itself
      {"taken.wav", 2},                                         // the output name is a directory
      {"hard.wav", 2},  // the output name is a hard link to the input
      {"soft.wav", 2},  // the output name is a symbolic link to the input
  };
  const auto before = dir_.Names();
  for (const auto& c : cases) {
    const RunResult result = Convert({c.input});
    EXPECT_EQ(result.out, OutputOfStatus(c.status)) << c.input;
    EXPECT_EQ(result.status, c.status) << c.input;
  }
  EXPECT_EQ(dir_.Names(), before);
  for (const char* name : {"voice.wss", "taken.wav", "hard.wav", "soft.wav"}) {
    EXPECT_EQ(Get(name), input) << name;
  }
}

// A new output gets the permissions of any new file; one that replaces an
// earlier output gets that file's, and as root its owner and group too.
TEST_F(EndToEnd, TheOutputTakesTheEarlierOutputsPermissions) {
  if (UnderWine()) GTEST_SKIP() << "Windows files have no POSIX permission bits";
  const mode_t mask = umask(0);
  umask(mask);
  const bool root = geteuid() == 0;
  struct {
    const char* what;
    int earlierMode;  // -1: no earlier output
    bool earlierOfNobody;
    bool link;  // voice.wss is a symbolic link to the earlier file
    mode_t mode;
  } const cases[] = {
      {"no earlier output", -1, false, false, 0666 & ~mask},
      {"earlier output 0600", 0600, false, false, 0600},
      {"earlier output 0640", 0640, false, false, 0640},
      {"earlier output 0604 of nobody", 0604, true, false, 0604},
      // The move replaces the link; what it points to lends nothing.
      {"a link to a file 0600 of nobody", 0600, true, true, 0666 & ~mask},
  };
  Put("voice.wav", CanonicalWav(8000, "abcd"));
  for (const auto& c : cases) {
    if (c.earlierOfNobody && !root) continue;  // only root may give a file away
    SCOPED_TRACE(c.what);
    fs::remove(dir_ / "voice.wss");
    fs::remove(dir_ / "earlier");
    const std::string earlier = c.link ? "earlier" : "voice.wss";
    if (c.earlierMode >= 0) {
      Put(earlier, "earlier output");
      ASSERT_EQ(chmod((dir_ / earlier).c_str(), static_cast<mode_t>(c.earlierMode)), 0);
      if (c.earlierOfNobody) {
        ASSERT_EQ(chown((dir_ / earlier).c_str(), 65534, 65534), 0);
      }
      if (c.link) fs::create_symlink("earlier", dir_ / "voice.wss");
    }
    ASSERT_EQ(Convert({"voice.wav"}).status, 0);
    struct stat st;
    ASSERT_EQ(lstat((dir_ / "voice.wss").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, c.mode);
    const bool nobodys = c.earlierOfNobody && !c.link;
    EXPECT_EQ(st.st_uid, nobodys ? 65534u : geteuid());
    EXPECT_EQ(st.st_gid, nobodys ? 65534u : getegid());
    EXPECT_EQ(Get("voice.wss"), Wss(8000, "abcd", 4));
    if (c.link) {
      EXPECT_EQ(Get("earlier"), "earlier output");
    }
  }
}

// An output whose name is as long as the system allows can be written: its
// temporary file beside it then takes a shorter name. Natively that is the
// longest name of a file; under Wine, the longest path that the ANSI calls
// take (MAX_PATH, 260 with the final 0), given in full.
TEST_F(EndToEnd, WritesAnOutputNameAtTheSystemsLimit) {
  std::string input, argument;
  if (UnderWine()) {
    std::string folder = "Z:" + dir_.path().string() + "/";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    ASSERT_LT(folder.size() + 5, 259u) << "TMPDIR is too deep for a MAX_PATH name";
    input = std::string(259 - folder.size() - 4, 'n') + ".wav";
    argument = folder + input;
  } else {
    input = std::string(251, 'n') + ".wav";  // 255 bytes, the longest name on Linux
    argument = input;
  }
  const std::string output = input.substr(0, input.size() - 4) + ".wss";
  Put(input, CanonicalWav(8000, "abcd"));
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "replacing an earlier output" : "a new output");
    if (earlier) Put(output, "earlier output");
    const RunResult result = Convert({argument});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(Get(output), Wss(8000, "abcd", 4));
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{input, output}));
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
  const RunResult result = Convert({"big.wav"});
  EXPECT_EQ(result.out, "");
  ASSERT_EQ(result.status, 0);
  const fs::path wss = dir_ / "big.wss";
  EXPECT_EQ(fs::file_size(wss), 26 + dataSize - 1);
  EXPECT_EQ(ReadAt(wss, 0, 31), Wss(44100, "first", 1));
  EXPECT_EQ(ReadAt(wss, 26 + dataSize - 9, 8), Bytes("\0\0\0\0last", 8));
  fs::remove(wss);
  fs::remove(dir_ / "big.wav");
}

TEST_F(EndToEnd, AFileSizeLimitLeavesNoOutput) {
  if (UnderWine()) GTEST_SKIP() << "the limit would bind the Wine server, not bronta.exe";
  Put("voice.wss", "earlier output");
  const Bytes input = CanonicalWav(8000, Pattern(200000));
  Put("voice.wav", input);
  RunOptions options;
  options.fileSizeLimit = 100000;
  const RunResult result = Convert({"voice.wav"}, options);
  EXPECT_EQ(result.out, Lines({kWriteOutput}));
  EXPECT_EQ(result.status, 6);
  EXPECT_EQ(Get("voice.wss"), "earlier output");
  EXPECT_EQ(Get("voice.wav"), input);
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
}

TEST_F(EndToEnd, RespectsWhatTheUserMayNotWrite) {
  if (UnderWine()) GTEST_SKIP() << "needs POSIX permissions and a user switch";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user (nobody)";
  // The program runs as "nobody", for whom root's permission bits hold. The
  // build tree may lie where nobody cannot enter, so the program is run from
  // a copy in the scratch directory.
  for (fs::path up = dir_.path().parent_path(); up != up.parent_path(); up = up.parent_path()) {
    if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none) {
      GTEST_SKIP() << "nobody cannot enter " << up << ": set TMPDIR to a directory it can reach";
    }
  }
  fs::permissions(dir_.path(), fs::perms::all);
  fs::copy_file(ProgramPath(), dir_ / "bronta");
  fs::permissions(dir_ / "bronta", fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  const Bytes input = CanonicalWav(8000, "abcd");
  fs::create_directory(dir_ / "locked");
  Put("locked/voice.wav", input);
  fs::permissions(dir_ / "locked", fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  fs::create_directory(dir_ / "open");
  fs::permissions(dir_ / "open", fs::perms::all);
  Put("open/voice.wav", input);
  Put("open/voice.wss", "read-only earlier output");
  fs::permissions(dir_ / "open/voice.wss", fs::perms::owner_read | fs::perms::others_read);
  Put("open/fresh.wav", input);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  asNobody.workingDir = dir_.path().string();
  struct {
    const char* input;
    int status;
  } const cases[] = {
      {"locked/voice.wav", 2},
      {"open/voice.wav", 2},
      {"open/fresh.wav", 0},  // the same user can convert where it may write
  };
  for (const auto& c : cases) {
    const RunResult result = RunCommand({(dir_ / "bronta").string(), c.input}, asNobody);
    EXPECT_EQ(result.out, OutputOfStatus(c.status)) << c.input;
    EXPECT_EQ(result.status, c.status) << c.input << ": " << result.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "locked/voice.wss"));
  EXPECT_EQ(Get("open/voice.wss"), "read-only earlier output");
  EXPECT_EQ(Get("open/fresh.wss"), Wss(8000, "abcd", 4));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_ / "open")) ++files;
  EXPECT_EQ(files, 4u);  // no temporary file left
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
  EXPECT_EQ(Get("voice.wss"), Wss(22050, samples, 0));
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
}

TEST_F(EndToEnd, TakesTheCommandLineAsAShellPassesIt) {
  Put("my voice.wav", CanonicalWav(8000, "abcd"));
  Put("x.wav", CanonicalWav(8000, "efgh"));
  struct {
    std::vector<std::string> args;
    int status;
    const char* output;  // the file it must write, or nullptr
  } const cases[] = {
      {{"my voice.wav"}, 0, "my voice.wss"},
      {{"", "x.wav"}, 0, "x.wss"},  // an empty argument is no argument
      {{std::string(5000, 'w')}, 1, nullptr},
  };
  for (const auto& c : cases) {
    const RunResult result = Convert(c.args);
    EXPECT_EQ(result.out, OutputOfStatus(c.status));
    EXPECT_EQ(result.status, c.status);
    if (c.output) {
      EXPECT_TRUE(fs::exists(dir_ / c.output)) << c.output;
    }
  }
  EXPECT_EQ(dir_.Names().size(), 4u);
}

// Windows takes file names in its ANSI code page. A name in a script that
// the code page lacks, with the manifest's UTF-8 code page (Windows 10
// version 1903 and later; Wine), is taken whole; without it (bronta_faulty
// carries no manifest, as an older Windows reads none), it is refused, and a
// look-alike in the code page (fullwidth letters read as ASCII ones, a
// fullwidth solidus as "/") is never converted in its place. Under Wine in a
// Western locale: code page 1252.
TEST_F(EndToEnd, NamesOutsideTheCodePage) {
  const char* codePage = std::getenv("BRONTA_CODE_PAGE");
  if (!UnderWine() || !codePage || std::string(codePage) != "1252") {
    GTEST_SKIP() << "needs Windows code page 1252 under Wine";
  }
  const char* withoutManifest = std::getenv("BRONTA_PROGRAM_WITHOUT_MANIFEST");
  ASSERT_NE(withoutManifest, nullptr) << "BRONTA_PROGRAM_WITHOUT_MANIFEST names no program";
  fs::create_directory(dir_ / "sub");
  Put("test.wav", CanonicalWav(8000, "look"));  // the look-alikes
  Put("sub/test.wav", CanonicalWav(8000, "look"));
  struct {
    const char* input;  // in UTF-8
    const char* output;
  } const names[] = {
      {"\xEF\xBD\x94\xEF\xBD\x85\xEF\xBD\x93\xEF\xBD\x94.wav",  // fullwidth "test"
       "\xEF\xBD\x94\xEF\xBD\x85\xEF\xBD\x93\xEF\xBD\x94.wss"},
      {"sub\xEF\xBC\x8Ftest.wav", "sub\xEF\xBC\x8Ftest.wss"},  // a fullwidth solidus
      {"\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA.wav", "\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA.wss"},  // Cyrillic
      {"\xC5\x99\x65\xC4\x8D.wav", "\xC5\x99\x65\xC4\x8D.wss"},                          // Czech
  };
  const Bytes samples = "name";
  for (const auto& name : names) Put(name.input, CanonicalWav(8000, samples));
  const auto before = dir_.Names();
  for (const bool manifest : {true, false}) {
    std::vector<std::string> command = ProgramCommand();
    if (!manifest) command.back() = withoutManifest;
    for (const auto& name : names) {
      SCOPED_TRACE(std::string(manifest ? "with" : "without") + " the manifest: " + name.input);
      RunOptions options;
      options.workingDir = dir_.path().string();
      command.push_back(name.input);
      const RunResult result = RunCommand(command, options);
      command.pop_back();
      EXPECT_EQ(result.status, manifest ? 0 : 1);
      EXPECT_EQ(result.out, OutputOfStatus(manifest ? 0 : 1));
      if (manifest) {
        EXPECT_EQ(Get(name.output), Wss(8000, samples, 4));
        fs::remove(dir_ / name.output);
      }
      EXPECT_FALSE(fs::exists(dir_ / "test.wss"));
      EXPECT_FALSE(fs::exists(dir_ / "sub/test.wss"));
      EXPECT_EQ(dir_.Names(), before);
    }
  }
}

// Under a double-byte code page (Japanese: code page 932, Shift_JIS), the
// second byte of a character may be 5C, a backslash on its own, or 2E; it must
// not end the extension search. Natively the names are those bytes, in a
// Shift_JIS locale; Wine takes them as the UTF-8 that it maps to them.
TEST_F(EndToEnd, DoubleByteNamesUnderCodePage932) {
  const char* codePage = std::getenv("BRONTA_CODE_PAGE");
  if (!codePage || std::string(codePage) != "932") GTEST_SKIP() << "needs code page 932";
  RunOptions options;
  if (!UnderWine()) {
    const locale_t sjis = newlocale(LC_CTYPE_MASK, "ja_JP.SJIS", nullptr);
    if (sjis == nullptr) {
      GTEST_SKIP() << "the locale ja_JP.SJIS is not installed "
                      "(localedef -i ja_JP -f SHIFT_JIS ja_JP.SJIS)";
    }
    freelocale(sjis);
    options.environment = {"LC_ALL=ja_JP.SJIS"};
  }
  struct {
    const char* cp932;  // the name's bytes in code page 932
    const char* utf8;   // the same name in UTF-8
    const char* output;
  } const cases[] = {
      {"x.\x83\x5C", "x.\xE3\x82\xBD", "x.wss"},
      {"\x95\x5C.wav", "\xE8\xA1\xA8.wav", nullptr},
      {"a.b\x95\x5C", "a.b\xE8\xA1\xA8", "a.wss"},
  };
  for (const auto& c : cases) {
    const std::string input = UnderWine() ? c.utf8 : c.cp932;
    std::string output = c.output ? c.output : input.substr(0, input.size() - 4) + ".wss";
    Put(input, CanonicalWav(8000, "abcd"));
    const RunResult result = Convert({input}, options);
    EXPECT_EQ(result.out, "") << c.output;
    EXPECT_EQ(result.status, 0) << c.output;
    EXPECT_EQ(Get(output), Wss(8000, "abcd", 4)) << output;
  }
}

}  // namespace
