// Walks over every step of a conversion: each platform operation in turn,
// the first, the second, ... until a run meets none, fails as the system
// would make it fail, finds the input ending early, is interrupted by a
// signal or a user's Ctrl+C, or finds its folder swapped under it by another
// program. Every time it checks what the user sees and what is left on disk.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "support/Scenario.h"
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
std::string Nth(const std::string& step, int n = 1) {
  return step + " " + std::to_string(n);
}
// The seam names a close by the file it closes.
const std::string kCloseInput = std::string(CloseFileHandle) + "(input)";
const std::string kCloseOutput = std::string(CloseFileHandle) + "(output)";
// What a fault in each operation must end with: the exit status, and with it
// the message. A temporary name taken is followed by another, and a failed
// close of the input loses nothing, so the run still succeeds.
const std::map<std::string, int> kExpectedStatus = {
    {Nth(OpenFolder), 1},    {Nth(OpenInputFile), 1},
    {Nth(MayReplace), 2},    {Nth(CreateNewFile), 0},
    {Nth(RandomNumber), 2},  {Nth(CopyPermissions), 2},
    {ReadOnce, 5},           {SeekTo, 5},
    {FileSize, 5},           {WriteOnce, 6},
    {kCloseInput, 0},        {kCloseOutput, 6},
    {Nth(DuplicateFile), 6}, {Nth(MoveReplacing), 2},
};

int ExpectedStatus(const std::string& step) {
  auto it = kExpectedStatus.find(step);
  // Reads, writes, seeks and closes fail alike whichever of them it is.
  if (it == kExpectedStatus.end()) it = kExpectedStatus.find(step.substr(0, step.find(' ')));
  return it == kExpectedStatus.end() ? -1 : it->second;
}

// The signals that end a process, one a step in turn (Windows: always
// Ctrl+C), and those that do not.
const std::vector<int> kSignals = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1,  SIGUSR2,
                                   SIGALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,   SIGVTALRM,
                                   SIGSYS,  SIGTRAP, SIGABRT, SIGILL,  SIGRTMIN, SIGRTMAX};
const std::vector<int> kNotEnding = {SIGCHLD, SIGURG, SIGWINCH, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU};

// The sound FOLDER/NAME.wav with an earlier FOLDER/NAME.wss beside it, run
// from the top folder, as a script over a tree would.
struct Walk {
  ScratchDir dir;
  const std::string folder = "sounds/sub";
  const std::string name = "voice";
  const Bytes samples = Pattern(600000);  // several buffers of the copy
  // A chunk behind the samples, long enough that a copy from the wrong place
  // would not run short.
  const Bytes input = Riff(Chunk("LIST", Pattern(10000, 3)) + Chunk("fmt ", PcmFormat(22050)) +
                           Chunk("data", samples) + Chunk("LIST", Pattern(20000, 2)));
  const Bytes converted = Wss(22050, samples, 600000);
  std::vector<std::string> planted;  // files under names in FOLDER that the run must not touch

  void Prepare() {
    fs::remove_all(dir / folder.substr(0, folder.find('/')));
    fs::create_directories(dir / folder);
    for (const auto& [file, bytes] : Expected(false)) WriteFile(dir / file, bytes);
  }
  RunResult Start(std::vector<std::string> environment, RunOptions options = {}) {
    options.workingDir = dir.path().string();
    environment.push_back("BRONTA_RENAME_FOLDER=" + folder);
    options.environment = environment;
    return RunProgram({folder + (UnderWine() ? "\\" : "/") + name + ".wav"}, options);
  }
  RunResult Run(const std::vector<std::string>& environment, const RunOptions& options = {}) {
    Prepare();
    return Start(environment, options);
  }
  // The input and, as `convertedOutput` says, the new output or the earlier
  // one, and nothing else: no temporary file, here or anywhere. When the
  // folder was `moved`, they are in the moved folder.
  Tree Expected(bool convertedOutput, bool moved = false) const {
    const std::string where = folder + (moved ? ".moved/" : "/");
    Tree tree = {{where + name + ".wav", input},
                 {where + name + ".wss", convertedOutput ? converted : "earlier output"}};
    for (const auto& file : planted) tree[where + file] = "planted";
    return tree;
  }
  void Expect(const RunResult& result, int status, bool moved = false) {
    ExpectRun(result, status, dir.path(), Expected(status == 0, moved));
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
int WalkEveryStep(Walk& walk, const std::string& variable, const std::string& marker,
                  const std::function<void(const RunResult&, const std::string&, int)>& check,
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
      walk.Expect(result, 0);
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
  int lastWrite = 0, protect = 0, move = 0;
  const int steps = WalkEveryStep(walk, "BRONTA_FAIL_AT", "injected fault: ",
                                  [&](const RunResult& result, const std::string& step, int n) {
                                    if (step.rfind(WriteOnce, 0) == 0) lastWrite = n;
                                    if (step == Nth(CopyPermissions)) protect = n;
                                    if (step == Nth(MoveReplacing)) move = n;
                                    ++seen[step.substr(0, step.find(' '))];
                                    const int expected = ExpectedStatus(step);
                                    ASSERT_NE(expected, -1) << "a step without an expected outcome";
                                    walk.Expect(result, expected);
                                  });
  EXPECT_GT(steps, 10) << "too few operations for a full conversion";
  for (const auto& [step, status] : kExpectedStatus)
    EXPECT_GT(seen[step.substr(0, step.find(' '))], 0) << step << " was never made to fail";

  // A temporary file that its folder keeps (made read-only meanwhile) is
  // truncated: after the last write; where it cannot get the earlier
  // output's permissions, which it is until then open to its owner alone,
  // whatever the umask; and where it cannot be moved into place. Its name
  // comes from the seam's random numbers 1, 37 and 2, and each is its own.
  // On Windows the mark for deletion removes it all the same.
  const mode_t umaskBefore = umask(0);
  std::vector<std::string> kept;
  for (const auto& [at, status, random] :
       {std::tuple{lastWrite, 6, 1}, std::tuple{protect, 2, 37}, std::tuple{move, 2, 2}}) {
    const RunResult result = walk.Run({"BRONTA_FAIL_AT=" + std::to_string(at),
                                       std::string("BRONTA_FAIL_ALSO=") + RemoveFile,
                                       "BRONTA_RANDOM_FROM=" + std::to_string(random)});
    Tree expected = walk.Expected(false);
    for (const auto& [file, bytes] : TreeOf(walk.dir.path())) {
      if (expected.count(file)) continue;
      kept.push_back(file);
      expected[file] = "";
      if (at == protect && !UnderWine()) {
        EXPECT_EQ(fs::status(walk.dir / file).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
      }
    }
    ExpectRun(result, status, walk.dir.path(), expected);
  }
  umask(umaskBefore);
  ASSERT_EQ(kept.size(), UnderWine() ? 0u : 3u);
  EXPECT_EQ(std::set<std::string>(kept.begin(), kept.end()).size(), kept.size());
  // A name taken by another file is passed over for the next random number's.
  walk.planted = {walk.name + ".wss.tmp-100000000000"};
  walk.Expect(walk.Run({"BRONTA_RANDOM_FROM=1"}), 0);
  walk.planted.clear();

  // An input that ends in its head is no WAV file; one that ends in its
  // samples has shrunk under the run. The head is read first.
  std::vector<int> ends;
  WalkEveryStep(walk, "BRONTA_END_AT",
                "injected end: ", [&](const RunResult& result, const std::string&, int) {
                  ends.push_back(result.status);
                  walk.Expect(result, result.status == 9 ? 9 : 5);
                });
  ASSERT_GE(ends.size(), 2u);
  EXPECT_EQ(ends.front(), 9);
  EXPECT_EQ(ends.back(), 5);
  EXPECT_TRUE(std::is_sorted(ends.begin(), ends.end(), std::greater<>()));
  // The short temporary name of an input NAME.WSS too long for the usual
  // one holds a letter, or the case probe would find it under its upper
  // case: the random number 1 gives digits alone.
  if (!UnderWine()) {
    const std::string name(251, 'w');
    walk.Prepare();
    Tree expected = walk.Expected(false);
    WriteFile(walk.dir / (name + ".WSS"), expected[name + ".WSS"] = walk.input);
    expected[name + ".wss"] = walk.converted;
    ExpectRun(RunProgram({name + ".WSS"}, {.workingDir = walk.dir.path().string(),
                                           .environment = {"BRONTA_RANDOM_FROM=1"}}),
              0, walk.dir.path(), expected);
  }
}

// An interrupt ends the run without a message and without a temporary
// file, and keeps the earlier output; one that comes at the final move or
// after it waits, and the run ends as the success it is, or, where the move
// fails, as an interrupted run. Every signal is also sent once the
// temporary file holds samples. Started with the signal ignored, as nohup
// and a shell's background jobs start it, the run is not stopped at all.
TEST(FaultWalk, AnInterruptAtAnyStepLeavesNoTemporaryFile) {
  Walk walk;
  // Windows' status for Ctrl+C, 0xC000013A, of which Wine passes on the
  // low byte.
  const auto expectInterrupted = [&](const RunResult& result, int signal) {
    walk.Expect(result, UnderWine() ? 0x3A : 128 + signal);
  };
  int firstWrite = 0, move = 0;
  const int steps = WalkEveryStep(
      walk, "BRONTA_INTERRUPT_AT",
      "injected interrupt: ", [&](const RunResult& result, const std::string& step, int n) {
        if (!firstWrite && step.rfind(WriteOnce, 0) == 0) firstWrite = n;
        if (step == Nth(MoveReplacing)) move = n;
        if (!move) return expectInterrupted(result, kSignals[n % kSignals.size()]);
        walk.Expect(result, 0);  // the move and what follows it
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
  // process (a stopped run is continued).
  if (UnderWine()) return;  // Wine starts no program with Ctrl+C ignored from here
  const auto converted = [&](const RunResult& result, const std::string&, int) {
    walk.Expect(result, 0);
  };
  WalkEveryStep(walk, "BRONTA_INTERRUPT_AT", "injected interrupt: ", converted,
                {.ignoredSignals = kSignals});
  WalkEveryStep(walk, "BRONTA_INTERRUPT_AT", "injected interrupt: ", converted, {}, kNotEnding);
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
                  walk.Expect(result, done && step.rfind(OpenFolder, 0) == 0 ? 1 : 0, done);
                });
  if (UnderWine()) return;  // Wine refuses the rename, and keeps standard files open
  EXPECT_GT(renamed, 10);

  // Started with standard input, output and error closed, the run writes
  // nothing that was meant for them into its files: here the seam's line on
  // standard error as the output is written.
  ASSERT_GT(firstWrite, 0);
  const std::string at = "BRONTA_RENAME_AT=" + std::to_string(firstWrite);
  walk.Expect(walk.Run({at}, {.standardFiles = RunOptions::kClosed}), 0, true);
}

// Two runs on one input at once, the first held in the middle of its copy
// until the second has ended: each writes a whole output, and the last one
// in place stays, with nothing else left.
TEST(FaultWalk, TwoRunsAtOnceBothWriteACompleteFile) {
  Walk walk;
  walk.Prepare();
  const fs::path paused = walk.dir / "paused";
  std::atomic<bool> ended = false;
  RunResult first;
  std::thread held([&] {
    first = walk.Start(
        {Nth(std::string("BRONTA_PAUSE_AT=") + WriteOnce, 2), "BRONTA_PAUSE_FILE=paused"});
    ended = true;
  });
  while (!fs::exists(paused) && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(fs::exists(paused)) << "the first run was not held";
  const RunResult second = walk.Start({});
  fs::remove(paused);
  held.join();
  EXPECT_EQ(second.status, 0) << second.err;
  walk.Expect(first, 0);
}

}  // namespace
