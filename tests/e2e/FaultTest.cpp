// Walks over every step of a conversion: each platform operation in turn,
// the first, the second, ... until a run meets none, fails as the system
// would make it fail, is interrupted as by a user's Ctrl+C, or finds its
// folder renamed under it by another program. Every time it checks what the
// user sees and what is left on disk.

#include <gtest/gtest.h>

#include <map>

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

// What a fault in each operation must end with: the exit status, and with it
// the message. A failed close of the input loses nothing, so the run still
// succeeds; the second close is the output's.
const std::map<std::string, int> kExpectedStatus = {
    {"folder 1", 1}, {"open 1", 1}, {"check 1", 2}, {"create 1", 2}, {"read", 5},   {"seek", 5},
    {"size", 5},     {"write", 6},  {"close 1", 0}, {"close 2", 6},  {"move 1", 6},
};

int ExpectedStatus(const std::string& step) {
  if (auto it = kExpectedStatus.find(step); it != kExpectedStatus.end()) return it->second;
  // Reads, writes and seeks fail alike whichever of them it is.
  auto it = kExpectedStatus.find(step.substr(0, step.find(' ')));
  return it == kExpectedStatus.end() ? -1 : it->second;
}

// The sound sounds/voice.wav with an earlier sounds/voice.wss beside it, run
// from the folder above, as a script over a tree would.
struct Walk {
  ScratchDir dir;
  const Bytes samples = Pattern(600000);  // several buffers of the copy
  const Bytes input =
      Riff(Chunk("LIST", "INFOabc") + Chunk("fmt ", PcmFormat(22050)) + Chunk("data", samples));
  const Bytes converted = Wss(22050, samples, 600000);

  RunResult Run(std::vector<std::string> environment, RunOptions options = {}) {
    fs::remove_all(dir / "sounds");
    fs::remove_all(dir / "sounds.moved");
    fs::create_directory(dir / "sounds");
    WriteFile(dir / "sounds/voice.wav", input);
    WriteFile(dir / "sounds/voice.wss", "earlier output");
    options.workingDir = dir.path().string();
    environment.push_back("BRONTA_RENAME_FOLDER=sounds");
    options.environment = environment;
    std::vector<std::string> command = ProgramCommand();
    command.push_back("sounds/voice.wav");
    return RunCommand(command, options);
  }
  // The input and, as `converted` says, the new output or the earlier one,
  // and nothing else: no temporary file, here or anywhere.
  void ExpectFiles(bool convertedOutput, const std::string& folder = "sounds") {
    EXPECT_EQ(dir.Names(), std::vector<std::string>{folder});
    EXPECT_EQ(ReadFile(dir / folder / "voice.wav"), input);
    EXPECT_EQ(ReadFile(dir / folder / "voice.wss"), convertedOutput ? converted : "earlier output");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"voice.wav", "voice.wss"}));
  }
  void ExpectConverted(const RunResult& result) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    ExpectFiles(true);
  }
};

// The step that the seam named on standard error after `prefix`.
std::string Injected(const std::string& err, const std::string& prefix) {
  const std::size_t at = err.find(prefix);
  if (at == std::string::npos) return "";
  const std::size_t start = at + prefix.size();
  const std::size_t end = err.find_first_of("\r\n", start);
  return err.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Runs the walk with `variable` set to 1, 2, ... until a run passes every
// step without the seam acting (it names the step on standard error after
// `marker`), which must convert as usual. `check` judges each other run.
// Returns the number of steps walked, or -1 when the system delivered no
// interrupt.
template <typename Check>
int WalkEveryStep(Walk& walk, const std::string& variable, const std::string& marker, Check check,
                  const RunOptions& options = {}) {
  for (int n = 1; n < 300; ++n) {
    const RunResult result = walk.Run({variable + "=" + std::to_string(n)}, options);
    if (result.status == 77 && result.err.find("interrupt not delivered") != std::string::npos) {
      return -1;
    }
    const std::string step = Injected(result.err, marker);
    if (step.empty()) {
      walk.ExpectConverted(result);
      return n - 1;
    }
    SCOPED_TRACE(variable + "=" + std::to_string(n) + ": " + step);
    check(result, step);
  }
  ADD_FAILURE() << "the walk did not end";
  return 0;
}

TEST(FaultWalk, EveryFailedStepEndsCleanly) {
  Walk walk;
  std::map<std::string, int> seen;
  const int steps =
      WalkEveryStep(walk, "BRONTA_FAIL_AT",
                    "injected fault: ", [&](const RunResult& result, const std::string& step) {
                      ++seen[step.substr(0, step.find(' '))];
                      const int expected = ExpectedStatus(step);
                      ASSERT_NE(expected, -1) << "a step without an expected outcome";
                      EXPECT_EQ(result.status, expected);
                      EXPECT_EQ(result.out, OutputOfStatus(expected));
                      walk.ExpectFiles(expected == 0);
                    });
  EXPECT_GT(steps, 10) << "too few operations for a full conversion";
  for (const char* operation :
       {"open", "check", "create", "read", "seek", "size", "write", "close", "move"}) {
    EXPECT_GT(seen[operation], 0) << operation << " was never made to fail";
  }
  // The samples move in several blocks, each of which can fail.
  EXPECT_GT(seen["read"], 3);
  EXPECT_GT(seen["write"], 3);
}

// An interrupt ends the run without a message and without a temporary
// file, and keeps the earlier output; one that comes at the final move
// waits for it, and the run ends as the success it is. Started with the
// interrupt ignored, as nohup and a shell's background jobs start it, the
// run is not stopped at all.
TEST(FaultWalk, AnInterruptAtAnyStepLeavesNoTemporaryFile) {
  Walk walk;
  const auto interrupted = [&](const RunResult& result, const std::string& step) {
    EXPECT_EQ(result.out, "");
    if (step == "move 1") {
      EXPECT_EQ(result.status, 0);
      walk.ExpectFiles(true);
      return;
    }
    if (UnderWine()) {
      EXPECT_NE(result.status, 0);
    } else {
      EXPECT_EQ(result.status, 128 + 2) << "not ended by SIGINT";
    }
    walk.ExpectFiles(false);
  };
  const int steps = WalkEveryStep(walk, "BRONTA_INTERRUPT_AT", "injected interrupt: ", interrupted);
  if (steps < 0) GTEST_SKIP() << "this system delivered no interrupt to the program";
  EXPECT_GT(steps, 10) << "too few operations for a full conversion";

  if (UnderWine()) GTEST_SKIP() << "Wine starts no program with Ctrl+C ignored from here";
  RunOptions ignoring;
  ignoring.ignoreInterrupts = true;
  WalkEveryStep(
      walk, "BRONTA_INTERRUPT_AT", "injected interrupt: ",
      [&](const RunResult& result, const std::string&) { walk.ExpectConverted(result); }, ignoring);
}

// The folder renamed by another program between two steps: the output still
// lands beside the input, in the folder under its new name, and nothing is
// left anywhere. Renamed before the input is opened, the input is not
// there. (Windows refuses to rename a folder that the run holds.)
TEST(FaultWalk, AFolderRenamedAtAnyStepKeepsTheRunWhole) {
  Walk walk;
  int renamed = 0;
  WalkEveryStep(walk, "BRONTA_RENAME_AT",
                "injected rename: ", [&](const RunResult& result, const std::string& step) {
                  const bool done = step.find(" done") != std::string::npos;
                  if (!UnderWine()) {
                    EXPECT_TRUE(done) << "the folder was not renamed";
                  }
                  renamed += done;
                  const int expected = done && step.rfind("folder", 0) == 0 ? 1 : 0;
                  EXPECT_EQ(result.status, expected) << result.err;
                  EXPECT_EQ(result.out, OutputOfStatus(expected));
                  walk.ExpectFiles(expected == 0, done ? "sounds.moved" : "sounds");
                });
  if (!UnderWine()) {
    EXPECT_GT(renamed, 10);
  }
}

}  // namespace
