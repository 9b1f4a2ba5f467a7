// Runs the built program on files in a scratch directory and checks what it
// prints, its exit status and the files it leaves, byte for byte.

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "support/Files.h"
#include "support/Process.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

const char* const kOpenInput = "Error while opening input file.";
const char* const kCreateOutput = "Error while creating output file.";
const char* const kBadWav = "Bad WAV format.";

bool UnderWine() {
  return ProgramCommand().size() > 1;
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + LineEnd();
  return text;
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
  const std::string banner =
      Lines({"Bronta 1.0", "for Operation Flashpoint v1.10 and above", "example: BRONTA [WAV_File]",
             "WAV file must be \"PCM, signed 16 bit, mono\""});
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {""}, {"", ""}}) {
    const RunResult result = Convert(args);
    EXPECT_EQ(result.out, banner);
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_TRUE(dir_.Names().empty());
}

// One WAV file in, and what the directory holds afterwards.
struct ConversionCase {
  const char* what;
  Bytes input;
  std::string out;  // expected standard output
  int status;       // expected exit status
  Bytes output;     // expected voice.wss, when `written`
  bool written = true;
};

TEST_F(EndToEnd, ConvertsOrRefusesEachInput) {
  const Bytes samples = Pattern(2000);
  const Bytes fmt = Chunk("fmt ", PcmFormat(11025));
  const ConversionCase cases[] = {
      {"canonical", CanonicalWav(11025, samples), "", 0, Wss(11025, samples, 2000)},
      {"LIST before and after the data",
       Riff(fmt + Chunk("LIST", "INFOxyz") + Chunk("data", samples) + Chunk("LIST", "tail")), "", 0,
       Wss(11025, samples, 2000)},
      {"odd size: the half sample is dropped", CanonicalWav(11025, "\x01\x02\x03\x04\x05"), "", 0,
       Wss(11025, "\x01\x02\x03\x04", 5)},
      {"announces more than it holds", Riff(fmt) + ChunkHead("data", 100) + "\x01\x02\x03\x04\x05",
       "", 0, Wss(11025, "\x01\x02\x03\x04", 5)},
      {"streamed size", Riff(fmt) + ChunkHead("data", 0xFFFFFFFF) + samples, "", 0,
       Wss(11025, samples, 2000)},
      {"70000 sample bytes", CanonicalWav(8000, Pattern(70000)), "", 0,
       Wss(8000, Pattern(70000), 70000)},
      {"no samples", CanonicalWav(8000, ""), "", 0, Wss(8000, "", 0)},
      {"empty file", "", Lines({kBadWav}), 9, "", false},
      {"not RIFF", "riff" + Bytes(40, '\0'), Lines({kBadWav}), 9, "", false},
      {"stereo", Riff(Chunk("fmt ", FormatBody(1, 2, 8000, 16)) + Chunk("data", samples)),
       Lines({kBadWav}), 9, "", false},
      {"no data chunk", Riff(fmt), Lines({kBadWav}), 9, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put("voice.wav", c.input);
    const RunResult result = Convert({"voice.wav"});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(Get("voice.wav"), c.input);
    if (c.written) {
      EXPECT_EQ(Get("voice.wss"), c.output);
      EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
    } else {
      EXPECT_EQ(dir_.Names(), std::vector<std::string>{"voice.wav"});
    }
    fs::remove(dir_ / "voice.wss");
  }
}

TEST_F(EndToEnd, AFailedRunKeepsAnEarlierOutput) {
  Put("voice.wss", "earlier output");
  Put("voice.wav", "not a wav file at all");
  const RunResult result = Convert({"voice.wav"});
  EXPECT_EQ(result.out, Lines({kBadWav}));
  EXPECT_EQ(result.status, 9);
  EXPECT_EQ(Get("voice.wss"), "earlier output");
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
}

TEST_F(EndToEnd, ASuccessfulRunReplacesAnEarlierOutput) {
  Put("voice.wss", "earlier output, longer than the new one will be........................");
  Put("voice.wav", CanonicalWav(8000, "ab"));
  EXPECT_EQ(Convert({"voice.wav"}).status, 0);
  EXPECT_EQ(Get("voice.wss"), Wss(8000, "ab", 2));
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

TEST_F(EndToEnd, RefusesInputsAndOutputsItCannotUse) {
  Put("voice.wss", CanonicalWav(8000, "abcd"));
  fs::create_directory(dir_ / "folder.wav");
  fs::create_directory(dir_ / "taken.wss");
  Put("taken.wav", CanonicalWav(8000, "abcd"));
  struct {
    const char* input;
    const char* message;
    int status;
  } const cases[] = {
      {"missing.wav", kOpenInput, 1},
      {"folder.wav", kOpenInput, 1},
      {"voice.wss", kCreateOutput, 2},  // its output is the input itself
      {"taken.wav", kCreateOutput, 2},  // the output name is a directory
  };
  const auto before = dir_.Names();
  for (const auto& c : cases) {
    const RunResult result = Convert({c.input});
    EXPECT_EQ(result.out, Lines({c.message})) << c.input;
    EXPECT_EQ(result.status, c.status) << c.input;
  }
  EXPECT_EQ(dir_.Names(), before);
  EXPECT_EQ(Get("voice.wss"), CanonicalWav(8000, "abcd"));
}

TEST_F(EndToEnd, NeverWritesThroughALinkToTheInput) {
  const Bytes input = CanonicalWav(8000, "abcd");
  Put("hard.wav", input);
  fs::create_hard_link(dir_ / "hard.wav", dir_ / "hard.wss");
  Put("soft.wav", input);
  fs::create_symlink("soft.wav", dir_ / "soft.wss");
  for (const char* name : {"hard.wav", "soft.wav"}) {
    const RunResult result = Convert({name});
    EXPECT_EQ(result.out, Lines({kCreateOutput})) << name;
    EXPECT_EQ(result.status, 2) << name;
    EXPECT_EQ(Get(name), input) << name;
  }
  EXPECT_EQ(dir_.Names(),
            (std::vector<std::string>{"hard.wav", "hard.wss", "soft.wav", "soft.wss"}));
}

TEST_F(EndToEnd, TheOutputGetsTheUsualPermissions) {
  if (UnderWine()) GTEST_SKIP() << "Windows files have no POSIX permission bits";
  Put("voice.wav", CanonicalWav(8000, "abcd"));
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(Convert({"voice.wav"}).status, 0);
  struct stat st;
  ASSERT_EQ(stat((dir_ / "voice.wss").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

}  // namespace

namespace {

// Reads `count` bytes at `offset` without loading the whole file.
Bytes ReadAt(const fs::path& path, std::uint64_t offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  Bytes bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

TEST_F(EndToEnd, CopiesADataChunkLargerThan2GiB) {
  // A sparse input: only the head and two marks take disk space.
  const std::uint64_t dataSize = 0x90000001;  // 2.25 GiB and one odd byte
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
  EXPECT_EQ(result.out, Lines({"Error while writing output file."}));
  EXPECT_EQ(result.status, 6);
  EXPECT_EQ(Get("voice.wss"), "earlier output");
  EXPECT_EQ(Get("voice.wav"), input);
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
}

}  // namespace

namespace {

TEST_F(EndToEnd, RespectsWhatTheUserMayNotWrite) {
  if (UnderWine()) GTEST_SKIP() << "needs POSIX permissions and a user switch";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  // The program runs as "nobody", for whom root's permission bits hold.
  fs::permissions(dir_.path(), fs::perms::all);
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
  struct {
    const char* input;
    std::string out;
    int status;
  } const cases[] = {
      {"locked/voice.wav", Lines({kCreateOutput}), 2},
      {"open/voice.wav", Lines({kCreateOutput}), 2},
      {"open/fresh.wav", "", 0},  // the same user can convert where it may write
  };
  for (const auto& c : cases) {
    const RunResult result = Convert({c.input}, asNobody);
    EXPECT_EQ(result.out, c.out) << c.input;
    EXPECT_EQ(result.status, c.status) << c.input;
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

}  // namespace

namespace {

TEST_F(EndToEnd, TakesTheCommandLineAsAShellPassesIt) {
  Put("my voice.wav", CanonicalWav(8000, "abcd"));
  Put("x.wav", CanonicalWav(8000, "efgh"));
  struct {
    std::vector<std::string> args;
    std::string out;
    const char* output;  // the file it must write, or nullptr
  } const cases[] = {
      {{"my voice.wav"}, "", "my voice.wss"},
      {{"", "x.wav"}, "", "x.wss"},  // an empty argument is no argument
      {{std::string(5000, 'w')}, Lines({kOpenInput}), nullptr},
  };
  for (const auto& c : cases) {
    const RunResult result = Convert(c.args);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, c.output ? 0 : 1);
    if (c.output) {
      EXPECT_TRUE(fs::exists(dir_ / c.output)) << c.output;
    }
  }
  EXPECT_EQ(dir_.Names().size(), 4u);
}

// Under a double-byte code page (Japanese: code page 932, Shift_JIS), the
// second byte of a character may be 5C, a backslash on its own, or 2E; it must
// not end the extension search. Natively the names are those bytes, in a
// Shift_JIS locale; Wine takes them as the UTF-8 that it maps to them.
TEST_F(EndToEnd, DoubleByteNamesUnderCodePage932) {
  const char* codePage = std::getenv("BRONTA_CODE_PAGE");
  if (!codePage || std::string(codePage) != "932") GTEST_SKIP() << "needs code page 932";
  struct {
    const char* cp932;  // the name's bytes in code page 932
    const char* utf8;   // the same name in UTF-8
    const char* output;
  } const cases[] = {
      {"x.\x83\x5C", "x.\xE3\x82\xBD", "x.wss"},
      {"\x95\x5C.wav", "\xE8\xA1\xA8.wav", nullptr},
      {"a.b\x95\x5C", "a.b\xE8\xA1\xA8", "a.wss"},
  };
  RunOptions options;
  if (!UnderWine()) options.environment = {"LC_ALL=ja_JP.SJIS"};
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
