// Walks over every step of a conversion: each platform operation in turn,
// the first, the second, ... until a run meets none, fails as the system
// would make it fail, finds the input ending early, is interrupted by a
// signal or a user's Ctrl+C, or finds its folder swapped under it by another
// program. Every time it checks what the user sees and what is left on disk.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <map>

#include "support/Files.h"
#include "support/Messages.h"
#include "support/Process.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// The steps that the seam counts, by the names of their calls.
namespace steps {
#define SYSTEM_CALL(result, name, parameters, arguments)
#define SYSTEM_STEP(result, name, parameters, arguments, failure) constexpr char name[] = #name;
#define SYSTEM_CUSTOM_STEP(result, name, parameters, arguments) constexpr char name[] = #name;
#include "platform/SystemCalls.inc"
}  // namespace steps
using namespace steps;

// "STEP N", as the seam names the Nth step of a kind.
std::string Nth(const char* step, int n = 1) {
  return std::string(step) + " " + std::to_string(n);
}
// What a fault in each operation must end with: the exit status, and with it
// the message. A temporary name taken is followed by another, and a failed
// close of the input loses nothing, so the run still succeeds; the second
// close is the output's.
const std::map<std::string, int> kExpectedStatus = {
    {Nth(OpenFolder), 1},
    {Nth(OpenInputFile), 1},
    {Nth(MayReplace), 2},
    {Nth(CreateNewFile), 0},
    {Nth(RandomNumber), 2},
    {Nth(CopyPermissions), 2},
    {ReadOnce, 5},
    {SeekTo, 5},
    {FileSize, 5},
    {WriteOnce, 6},
    {Nth(CloseFileHandle), 0},
    {Nth(CloseFileHandle, 2), 6},
    {Nth(MoveReplacing), 2},
};

int ExpectedStatus(const std::string& step) {
  auto it = kExpectedStatus.find(step);
  // Reads, writes and seeks fail alike whichever of them it is.
  if (it == kExpectedStatus.end()) it = kExpectedStatus.find(step.substr(0, step.find(' ')));
  return it == kExpectedStatus.end() ? -1 : it->second;
}

// The signals that end a process, one a step in turn (Windows: always
// Ctrl+C), and those that do not.
const std::vector<int> kSignals = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1,  SIGUSR2,
                                   SIGALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,   SIGVTALRM,
                                   SIGSYS,  SIGTRAP, SIGABRT, SIGILL,  SIGRTMIN, SIGRTMAX};
const std::vector<int> kHarmless = {SIGCHLD, SIGURG, SIGWINCH, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU};

std::string Environment(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

// The sound FOLDER/NAME.wav with an earlier FOLDER/NAME.wss beside it, run
// from the top folder, as a script over a tree would; "sounds/sub" and
// "voice" unless BRONTA_WALK_FOLDER (two folders deep or more) and
// BRONTA_WALK_NAME say otherwise.
struct Walk {
  ScratchDir dir;
  const std::string folder = Environment("BRONTA_WALK_FOLDER", "sounds/sub");
  const std::string name = Environment("BRONTA_WALK_NAME", "voice");
  const Bytes samples = Pattern(600000);  // several buffers of the copy
  // A chunk behind the samples, long enough that a copy from the wrong place
  // would not run short.
  const Bytes input = Riff(Chunk("LIST", Pattern(10000, 3)) + Chunk("fmt ", PcmFormat(22050)) +
                           Chunk("data", samples) + Chunk("LIST", Pattern(20000, 2)));
  const Bytes converted = Wss(22050, samples, 600000);

  const std::string top = folder.substr(0, folder.find('/'));
  const std::string parent = fs::path(folder).parent_path().string();
  const std::string leaf = fs::path(folder).filename().string();
  std::vector<std::string> planted;  // files under names in FOLDER that the run must not touch

  RunResult Run(std::vector<std::string> environment, RunOptions options = {}) {
    fs::remove_all(dir / top);
    fs::remove_all(dir / (folder + ".moved"));
    fs::create_directories(dir / folder);
    WriteFile(dir / folder / (name + ".wav"), input);
    WriteFile(dir / folder / (name + ".wss"), "earlier output");
    for (const auto& file : planted) WriteFile(dir / folder / file, "planted");
    options.workingDir = dir.path().string();
    environment.push_back("BRONTA_RENAME_FOLDER=" + folder);
    options.environment = environment;
    std::vector<std::string> command = ProgramCommand();
    command.push_back(folder + (UnderWine() ? "\\" : "/") + name + ".wav");
    return RunCommand(command, options);
  }
  // The input and, as `convertedOutput` says, the new output or the earlier
  // one, and nothing else: no temporary file, here or anywhere. When the
  // folder was `moved`, they are in the moved folder, and an empty one that
  // another program made stands in its old place.
  void ExpectFiles(bool convertedOutput, bool moved = false) {
    const std::string where = moved ? folder + ".moved" : folder;
    EXPECT_EQ(dir.Names(), std::vector<std::string>{top});
    const std::vector<std::string> here = {leaf, leaf + ".moved"};
    EXPECT_EQ(dir.Names(parent), std::vector<std::string>(here.begin(), here.begin() + 1 + moved));
    if (moved) {
      EXPECT_TRUE(dir.Names(folder).empty());
    }
    std::vector<std::string> files = planted;
    files.insert(files.end(), {name + ".wav", name + ".wss"});
    std::sort(files.begin(), files.end());
    EXPECT_EQ(dir.Names(where), files);
    for (const auto& file : planted) EXPECT_EQ(ReadFile(dir / where / file), "planted");
    EXPECT_TRUE(SameBytes(ReadFile(dir / where / (name + ".wav")), input));
    EXPECT_TRUE(SameBytes(ReadFile(dir / where / (name + ".wss")),
                          convertedOutput ? converted : "earlier output"));
  }
  void ExpectConverted(const RunResult& result) {
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    ExpectFiles(true);
  }
};

// The step that the seam named on standard error after `prefix`.
std::string Injected(const std::string& err, const std::string& prefix) {
  const std::size_t at = err.find(prefix), start = at + prefix.size();
  return at == std::string::npos ? "" : err.substr(start, err.find_first_of("\r\n", at) - start);
}

// Runs the walk with `variable` set to 1, 2, ... (and the signal of that
// step) until a run passes every step without the seam acting (it names the
// step on standard error after `marker`), which must convert as usual.
// `check(result, step, n)` judges each other run. Returns the number of steps
// walked, or -1 when the system delivered no interrupt.
template <typename Check>
int WalkEveryStep(Walk& walk, const std::string& variable, const std::string& marker, Check check,
                  const RunOptions& options = {}, const std::vector<int>& signals = kSignals) {
  for (int n = 1; n < 300; ++n) {
    const int signal = signals[n % signals.size()];
    const RunResult result = walk.Run(
        {variable + "=" + std::to_string(n), "BRONTA_INTERRUPT_SIGNAL=" + std::to_string(signal)},
        options);
    if (result.status == 77 && result.err.find("interrupt not delivered") != std::string::npos) {
      return -1;
    }
    const std::string step = Injected(result.err, marker);
    if (step.empty()) {
      walk.ExpectConverted(result);
      return n - 1;
    }
    SCOPED_TRACE(variable + "=" + std::to_string(n) + ": " + step);
    check(result, step, n);
  }
  ADD_FAILURE() << "the walk did not end";
  return 0;
}

// A failed operation at any step, and the input ending early at any read.
TEST(FaultWalk, EveryFailedStepEndsCleanly) {
  Walk walk;
  std::map<std::string, int> seen;
  int lastWrite = 0, protect = 0;
  const int steps = WalkEveryStep(walk, "BRONTA_FAIL_AT", "injected fault: ",
                                  [&](const RunResult& result, const std::string& step, int n) {
                                    if (step.rfind(WriteOnce, 0) == 0) lastWrite = n;
                                    if (step == Nth(CopyPermissions)) protect = n;
                                    ++seen[step.substr(0, step.find(' '))];
                                    const int expected = ExpectedStatus(step);
                                    ASSERT_NE(expected, -1) << "a step without an expected outcome";
                                    EXPECT_EQ(result.status, expected);
                                    EXPECT_EQ(result.out, OutputOfStatus(expected));
                                    walk.ExpectFiles(expected == 0);
                                  });
  EXPECT_GT(steps, 10) << "too few operations for a full conversion";
  for (const auto& [step, status] : kExpectedStatus)
    EXPECT_GT(seen[step.substr(0, step.find(' '))], 0) << step << " was never made to fail";
  // The samples move in several blocks, each of which can fail.
  EXPECT_GT(seen[ReadOnce], 3);
  EXPECT_GT(seen[WriteOnce], 3);

  // A temporary file that its folder keeps (made read-only meanwhile) is
  // emptied: after the last write, and where it cannot be made like the
  // earlier output, which it is until then open to its owner alone, whatever
  // the umask. Its name is new each time, so that nobody can take it first.
  const mode_t umaskBefore = umask(0);
  std::vector<std::string> kept;
  for (const auto& [at, status] : {std::pair{lastWrite, 6}, std::pair{protect, 2}}) {
    const RunResult result = walk.Run(
        {"BRONTA_FAIL_AT=" + std::to_string(at), std::string("BRONTA_FAIL_ALSO=") + RemoveFile});
    EXPECT_EQ(result.status, status) << result.err;
    const auto names = walk.dir.Names(walk.folder);
    ASSERT_EQ(names.size(), 3u);
    kept.push_back(names[2]);
    const fs::path temporary = walk.dir / walk.folder / names[2];
    EXPECT_EQ(fs::file_size(temporary), 0u) << names[2];
    if (status == 2 && !UnderWine()) {
      EXPECT_EQ(fs::status(temporary).permissions(),
                fs::perms::owner_read | fs::perms::owner_write);
    }
  }
  umask(umaskBefore);
  EXPECT_NE(kept[0], kept[1]);

  // The random numbers 1, 2, ...: the names they give are taken, and each
  // name is new and created with O_EXCL.
  walk.planted = {walk.name + ".wss.tmp-100000000000", walk.name + ".wss.tmp-200000000000"};
  walk.ExpectConverted(walk.Run({"BRONTA_RANDOM_FROM=1"}));
  walk.planted.clear();

  // An input that ends in its head (two reads: before and after its long
  // first chunk) is no WAV file; one that ends later has shrunk under the
  // run.
  const int reads = WalkEveryStep(
      walk, "BRONTA_END_AT",
      "injected end: ", [&](const RunResult& result, const std::string& step, int) {
        const int expected = step == Nth(ReadOnce) || step == Nth(ReadOnce, 2) ? 9 : 5;
        EXPECT_EQ(result.status, expected);
        EXPECT_EQ(result.out, OutputOfStatus(expected));
        walk.ExpectFiles(false);
      });
  EXPECT_GT(reads, 3);
}

// An interrupt ends the run without a message and without a temporary
// file, and keeps the earlier output; one that comes at the final move
// waits for it, and the run ends as the success it is, or, where the move
// fails, as an interrupted run. Every signal is also sent once the
// temporary file holds samples. Started with the signal ignored, as nohup
// and a shell's background jobs start it, the run is not stopped at all.
TEST(FaultWalk, AnInterruptAtAnyStepLeavesNoTemporaryFile) {
  Walk walk;
  const auto expectInterrupted = [&](const RunResult& result, int signal) {
    EXPECT_EQ(result.out, "");
    if (UnderWine()) {
      EXPECT_NE(result.status, 0);
    } else {
      EXPECT_EQ(result.status, 128 + signal) << "not ended by signal " << signal;
    }
    walk.ExpectFiles(false);
  };
  int firstWrite = 0, move = 0;
  const int steps = WalkEveryStep(
      walk, "BRONTA_INTERRUPT_AT",
      "injected interrupt: ", [&](const RunResult& result, const std::string& step, int n) {
        if (!firstWrite && step.rfind(WriteOnce, 0) == 0) firstWrite = n;
        if (step != Nth(MoveReplacing))
          return expectInterrupted(result, kSignals[n % kSignals.size()]);
        move = n;
        EXPECT_EQ(result.status, 0);
        walk.ExpectFiles(true);
      });
  if (steps < 0) GTEST_SKIP() << "this system delivered no interrupt to the program";
  EXPECT_GT(steps, 10) << "too few operations for a full conversion";
  ASSERT_GT(firstWrite * move, 0);
  const std::string at = "BRONTA_INTERRUPT_AT=" + std::to_string(move);
  expectInterrupted(walk.Run({at, "BRONTA_FAIL_AT=" + std::to_string(move)}), SIGINT);
  for (const int signal : UnderWine() ? std::vector<int>{} : kSignals) {
    expectInterrupted(walk.Run({"BRONTA_INTERRUPT_AT=" + std::to_string(firstWrite),
                                "BRONTA_INTERRUPT_SIGNAL=" + std::to_string(signal)}),
                      signal);
  }

  // The same with the signals ignored, and with signals that do not end a
  // process (a stopped run is let go on).
  if (UnderWine()) return;  // Wine starts no program with Ctrl+C ignored from here
  const auto converted = [&](const RunResult& result, const std::string&, int) {
    walk.ExpectConverted(result);
  };
  WalkEveryStep(walk, "BRONTA_INTERRUPT_AT", "injected interrupt: ", converted,
                {.ignoredSignals = kSignals});
  WalkEveryStep(walk, "BRONTA_INTERRUPT_AT", "injected interrupt: ", converted, {}, kHarmless);
}

// The folder renamed by another program between two steps, and an empty
// one made in its place: the input and the output are found in the folder
// under its new name, and nothing is left anywhere. Renamed before the run
// holds the folder, the input is not there. (Windows refuses to rename a
// folder that the run holds.)
TEST(FaultWalk, AFolderSwappedAtAnyStepKeepsTheRunWhole) {
  Walk walk;
  int renamed = 0;
  int firstWrite = 0;
  WalkEveryStep(walk, "BRONTA_RENAME_AT",
                "injected rename: ", [&](const RunResult& result, const std::string& step, int n) {
                  const bool done = step.find(" done") != std::string::npos;
                  if (!UnderWine()) {
                    EXPECT_TRUE(done) << "the folder was not renamed";
                  }
                  renamed += done;
                  if (!firstWrite && step.rfind(WriteOnce, 0) == 0) firstWrite = n;
                  const int expected = done && step.rfind(OpenFolder, 0) == 0 ? 1 : 0;
                  EXPECT_EQ(result.status, expected) << result.err;
                  EXPECT_EQ(result.out, OutputOfStatus(expected));
                  walk.ExpectFiles(expected == 0, done);
                });
  if (UnderWine()) return;  // Wine refuses the rename, and keeps standard files open
  EXPECT_GT(renamed, 10);

  // Started with standard input, output and error closed, the run writes
  // nothing that was meant for them into its files: here the seam's line on
  // standard error as the output is written.
  ASSERT_GT(firstWrite, 0);
  const std::string at = "BRONTA_RENAME_AT=" + std::to_string(firstWrite);
  EXPECT_EQ(walk.Run({at}, {.standardFiles = RunOptions::kClosed}).status, 0);
  walk.ExpectFiles(true, true);
}

}  // namespace
