// Runs the program under test as a separate process, the way a user's shell
// or script does, and collects what it printed and how it ended.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct RunOptions {
  std::string program = {};                   // RunProgram's, "" for the program under test
  std::string workingDir = {};                // "" keeps the current one
  std::vector<std::string> environment = {};  // extra NAME=value entries
  std::vector<std::string> prefix = {};       // words before the command (setpriv, strace -D ...)
  std::vector<int> ignoredSignals = {};       // started with these signals ignored
  std::vector<int> pendingSignals = {};       // started with these blocked, and one of each waiting
  int repeatedSignal = 0;                     // sent to the process every 2 ms until it ends
  std::string leased =
      {};  // a file in the working folder under a write lease, taken again and again
  // root: as root of a user namespace that maps 0 and, as 65534, host id 2
  bool userNamespace = false;
  // Past this, the program and all it started are killed, and the test
  // fails: below each test's timeout, so that nothing outlives its test.
  int deadlineSeconds = 40;
  // How standard output and error reach the program: captured, closed
  // (standard input too), or standard output a pipe that nobody reads.
  enum { kCaptured, kClosed, kBrokenPipe } standardFiles = kCaptured;
};

// A prefix that runs the command with parts of /proc hidden by `mounts`
// (by default an empty tmpfs on its own /proc/$$/fd, which is
// /proc/self/fd once the command runs), in a mount namespace of its own,
// which reaches no other process (/proc made private, not /, which in a
// chroot is no mount).
inline std::vector<std::string> WithoutProc(
    const std::string& mounts = "mount -t tmpfs none /proc/$$/fd") {
  const std::string script = "mount --make-rprivate /proc && " + mounts;
  return {"unshare", "-m", "--propagation=unchanged",
          "sh",      "-c", script + " && exec \"$0\" \"$@\""};
}

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number
};

// Runs `command` (the program and its arguments, searched in PATH) in a
// process group of its own and waits for it, until the deadline.
RunResult RunCommand(const std::vector<std::string>& command, const RunOptions& options = {});

// The program under test: BRONTA_PROGRAM if set, otherwise the one that this
// build tree built for the test binary (BRONTA_BUILT_PROGRAM).
std::string ProgramPath();

// Runs options.program, or else the program under test, with `args`, as
// RunCommand does, through BRONTA_RUNNER (a Wine loader, for one) if set.
RunResult RunProgram(const std::vector<std::string>& args, const RunOptions& options = {});

// Whether the program under test is a Windows build run under Wine.
bool UnderWine();

}  // namespace testing_support
