// Makes each platform operation of a conversion fail in turn, the first, the
// second, ... until a run meets no fault, and checks every time what the
// user sees and what is left on disk. Then interrupts the run at each
// operation in turn, as a user's Ctrl+C would.

#include <gtest/gtest.h>

#include <map>

#include "support/Files.h"
#include "support/Messages.h"
#include "support/Process.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;

// What a fault in each operation must end with: the exit status, and with it
// the message. A failed close of the input loses nothing, so the run still
// succeeds; the second close is the output's.
const std::map<std::string, int> kExpectedStatus = {
    {"open 1", 1}, {"check 1", 2}, {"create 1", 2}, {"read", 5},    {"skip", 5},
    {"size", 5},   {"write", 6},   {"close 1", 0},  {"close 2", 6}, {"move 1", 6},
};

int ExpectedStatus(const std::string& fault) {
  if (auto it = kExpectedStatus.find(fault); it != kExpectedStatus.end()) return it->second;
  // Reads, writes and skips fail alike whichever of them it is.
  const std::string operation = fault.substr(0, fault.find(' '));
  auto it = kExpectedStatus.find(operation);
  return it == kExpectedStatus.end() ? -1 : it->second;
}

struct Walk {
  ScratchDir dir;
  const Bytes samples = Pattern(600000);  // several buffers of the copy
  const Bytes input =
      Riff(Chunk("LIST", "INFOabc") + Chunk("fmt ", PcmFormat(22050)) + Chunk("data", samples));
  const Bytes converted = Wss(22050, samples, 600000);

  Walk() { WriteFile(dir / "voice.wav", input); }

  // One run with an earlier output in place and these settings of the seam.
  RunResult Run(const std::vector<std::string>& environment) {
    WriteFile(dir / "voice.wss", "earlier output");
    RunOptions options;
    options.workingDir = dir.path().string();
    options.environment = environment;
    std::vector<std::string> command = ProgramCommand();
    command.push_back("voice.wav");
    return RunCommand(command, options);
  }
  void ExpectConverted(const RunResult& result) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFile(dir / "voice.wss"), converted);
  }
  // The input and an earlier output as they were, or the new output, and no
  // temporary file.
  void ExpectFilesAfter(bool convertedOutput) {
    EXPECT_EQ(ReadFile(dir / "voice.wav"), input);
    EXPECT_EQ(ReadFile(dir / "voice.wss"), convertedOutput ? converted : "earlier output");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
  }
};

// The operation that the seam named on standard error after `prefix`.
std::string Injected(const std::string& err, const std::string& prefix) {
  const std::size_t at = err.find(prefix);
  if (at == std::string::npos) return "";
  const std::size_t start = at + prefix.size();
  const std::size_t end = err.find_first_of("\r\n", start);
  return err.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(FaultWalk, EveryFailedStepEndsCleanly) {
  Walk walk;
  std::map<std::string, int> seen;
  for (int n = 1; n < 200; ++n) {
    const RunResult result = walk.Run({"BRONTA_FAIL_AT=" + std::to_string(n)});
    const std::string fault = Injected(result.err, "injected fault: ");
    if (fault.empty()) {  // past the last operation: a clean run
      walk.ExpectConverted(result);
      EXPECT_GT(n, 10) << "too few operations for a full conversion";
      break;
    }
    ++seen[fault.substr(0, fault.find(' '))];
    SCOPED_TRACE("fault " + std::to_string(n) + ": " + fault);
    const int expected = ExpectedStatus(fault);
    ASSERT_NE(expected, -1) << "an operation without an expected outcome";
    EXPECT_EQ(result.status, expected);
    EXPECT_EQ(result.out, OutputOfStatus(expected));
    walk.ExpectFilesAfter(expected == 0);
  }
  for (const char* operation :
       {"open", "check", "create", "read", "skip", "size", "write", "close", "move"}) {
    EXPECT_GT(seen[operation], 0) << operation << " was never made to fail";
  }
  // The samples move in several blocks, each of which can fail.
  EXPECT_GT(seen["read"], 6);
  EXPECT_GT(seen["write"], 3);
}

// An interrupt at any step ends the run without a message and without a
// temporary file, and keeps the earlier output.
TEST(FaultWalk, AnInterruptAtAnyStepLeavesNoTemporaryFile) {
  Walk walk;
  int interrupted = 0;
  for (int n = 1; n < 200; ++n) {
    const RunResult result = walk.Run({"BRONTA_INTERRUPT_AT=" + std::to_string(n)});
    if (result.status == 77 && result.err.find("interrupt not delivered") != std::string::npos) {
      GTEST_SKIP() << "this system delivered no interrupt to the program: " << result.err;
    }
    const std::string step = Injected(result.err, "injected interrupt: ");
    if (step.empty()) {  // past the last operation: a clean run
      walk.ExpectConverted(result);
      break;
    }
    SCOPED_TRACE("interrupt " + std::to_string(n) + ": " + step);
    ++interrupted;
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.out, "");
    walk.ExpectFilesAfter(false);
  }
  EXPECT_GT(interrupted, 10) << "too few operations for a full conversion";
}

}  // namespace
