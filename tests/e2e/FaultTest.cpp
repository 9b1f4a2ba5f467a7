// Makes each platform operation of a conversion fail in turn, the first, the
// second, ... until a run meets no fault, and checks every time what the
// user sees and what is left on disk.

#include <gtest/gtest.h>

#include <map>

#include "support/Files.h"
#include "support/Process.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;

// What a fault in each operation must end with: the exit status, and with it
// the message. A failed kernel copy falls back to plain transfers and a
// failed close of the input loses nothing, so both still succeed.
const std::map<std::string, int> kExpectedStatus = {
    {"open 1", 1}, {"check 1", 2}, {"create 1", 2}, {"read", 5},    {"skip", 5},   {"size", 5},
    {"write", 6},  {"copy", 0},    {"close 1", 6},  {"close 2", 0}, {"move 1", 6},
};

const std::map<int, std::string> kMessage = {
    {0, ""},
    {1, "Error while opening input file.\n"},
    {2, "Error while creating output file.\n"},
    {5, "Error while reading intput file.\n"},
    {6, "Error while writing output file.\n"},
};

int ExpectedStatus(const std::string& fault) {
  if (auto it = kExpectedStatus.find(fault); it != kExpectedStatus.end()) return it->second;
  // Reads, writes, skips and copies fail alike whichever of them it is.
  const std::string operation = fault.substr(0, fault.find(' '));
  auto it = kExpectedStatus.find(operation);
  return it == kExpectedStatus.end() ? -1 : it->second;
}

// Walks the fault over a conversion; with `alwaysFailing` set, that kind of
// operation fails every time as well (the kernel copy, to walk the fallback).
void WalkFaults(const std::string& alwaysFailing) {
  ScratchDir dir;
  const Bytes samples = Pattern(600000);  // several buffers for the plain copy
  const Bytes input =
      Riff(Chunk("LIST", "INFOabc") + Chunk("fmt ", PcmFormat(22050)) + Chunk("data", samples));
  const Bytes converted = Wss(22050, samples, 600000);
  WriteFile(dir / "voice.wav", input);

  std::map<std::string, int> seen;
  for (int n = 1; n < 200; ++n) {
    WriteFile(dir / "voice.wss", "earlier output");
    RunOptions options;
    options.workingDir = dir.path().string();
    options.environment = {"BRONTA_FAIL_AT=" + std::to_string(n),
                           "BRONTA_FAIL_ALWAYS=" + alwaysFailing};
    std::vector<std::string> command = ProgramCommand();
    command.push_back("voice.wav");
    const RunResult result = RunCommand(command, options);

    const std::string prefix = "injected fault: ";
    if (result.err.empty()) {  // past the last operation: a clean run
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(ReadFile(dir / "voice.wss"), converted);
      EXPECT_GT(n, 10) << "too few operations for a full conversion";
      break;
    }
    ASSERT_EQ(result.err.rfind(prefix, 0), 0u) << result.err;
    const std::string fault =
        result.err.substr(prefix.size(), result.err.size() - prefix.size() - 1);
    ++seen[fault.substr(0, fault.find(' '))];
    SCOPED_TRACE("fault " + std::to_string(n) + ": " + fault);
    const int expected = ExpectedStatus(fault);
    ASSERT_NE(expected, -1) << "an operation without an expected outcome";
    EXPECT_EQ(result.status, expected);
    EXPECT_EQ(result.out, kMessage.at(expected));
    EXPECT_EQ(ReadFile(dir / "voice.wav"), input);
    EXPECT_EQ(ReadFile(dir / "voice.wss"), expected == 0 ? converted : "earlier output");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"voice.wav", "voice.wss"}));
  }
  for (const char* operation :
       {"open", "check", "create", "read", "skip", "size", "write", "copy", "close", "move"}) {
    if (operation == alwaysFailing) continue;
    EXPECT_GT(seen[operation], 0) << operation << " was never made to fail";
  }
  if (!alwaysFailing.empty()) {  // the plain copy moves the samples in several blocks
    EXPECT_GT(seen["read"], 6);
    EXPECT_GT(seen["write"], 3);
  }
}

TEST(FaultWalk, EveryFailedStepEndsCleanly) {
  WalkFaults("");
}

TEST(FaultWalk, EveryFailedStepOfThePlainCopyEndsCleanly) {
  WalkFaults("copy");
}

}  // namespace
