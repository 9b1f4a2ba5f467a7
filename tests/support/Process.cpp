#include "support/Process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/Files.h"

namespace testing_support {

namespace {

namespace fs = std::filesystem;

int g_leased = -1;  // the file under a lease

std::string TempCapture() {
  std::string name = (std::filesystem::temp_directory_path() / "bronta-capture-XXXXXX").string();
  const int fd = mkstemp(name.data());
  if (fd >= 0) close(fd);
  return name;
}

[[noreturn]] void Child(const std::vector<std::string>& command, const RunOptions& options,
                        const std::string& outName, const std::string& errName) {
  setpgid(0, 0);
  const int out = open(outName.c_str(), O_WRONLY | O_TRUNC);
  const int err = open(errName.c_str(), O_WRONLY | O_TRUNC);
  const int in = open("/dev/null", O_RDONLY);
  if (out < 0 || err < 0 || in < 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (options.standardFiles == RunOptions::kBrokenPipe) {
    int ends[2];
    if (pipe(ends) != 0) _exit(126);
    dup2(ends[1], 1);
    close(ends[0]);
  }
  if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
  for (const auto& entry : options.environment) putenv(const_cast<char*>(entry.c_str()));
  const rlimit noCore{0, 0};  // a run killed by a signal leaves no core file behind
  setrlimit(RLIMIT_CORE, &noCore);
  // The program sets these two itself; a caller's setting must not hide it.
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  for (int sig : options.ignoredSignals) signal(sig, SIG_IGN);
  sigset_t pending;
  sigemptyset(&pending);
  for (int sig : options.pendingSignals) sigaddset(&pending, sig);
  sigprocmask(SIG_BLOCK, &pending, nullptr);
  for (int sig : options.pendingSignals) raise(sig);
  // The parent writes the maps while this process is stopped. A chroot
  // refuses a user namespace (EPERM): there maps that are not the initial
  // namespace's stand over this process's, in a mount namespace of its own.
  const std::string proc = "/proc/" + std::to_string(getpid()) + "/";
  const bool ownNamespace = options.userNamespace && unshare(CLONE_NEWUSER) == 0;
  if (options.userNamespace && !ownNamespace &&
      (errno != EPERM || unshare(CLONE_NEWNS) != 0 ||
       mount(nullptr, "/proc", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
       mount("/dev/null", (proc + "uid_map").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
       mount("/dev/null", (proc + "gid_map").c_str(), nullptr, MS_BIND, nullptr) != 0)) {
    _exit(126);
  }
  if (ownNamespace) raise(SIGSTOP);
  std::vector<char*> argv;
  for (const auto& word : options.prefix) argv.push_back(const_cast<char*>(word.c_str()));
  for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  if (options.standardFiles == RunOptions::kClosed) {
    for (int fd = 0; fd <= 2; ++fd) close(fd);
  }
  execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

RunResult RunCommand(const std::vector<std::string>& command, const RunOptions& options) {
  const std::string outName = TempCapture();
  const std::string errName = TempCapture();
  RunResult result;
  // A write lease, as a Samba server holds one: its holder releases it when
  // another open breaks it, and takes it again whenever it can.
  g_leased = -1;
  if (!options.leased.empty()) {
    signal(SIGIO, [](int) { fcntl(g_leased, F_SETLEASE, F_UNLCK); });
    g_leased = open((fs::path(options.workingDir) / options.leased).c_str(), O_WRONLY | O_CLOEXEC);
    if (fcntl(g_leased, F_SETLEASE, F_WRLCK) != 0) ADD_FAILURE() << "no lease: " << options.leased;
  }
  const pid_t pid = fork();
  if (pid == 0) Child(command, options, outName, errName);
  setpgid(pid, pid);  // as the child does, whichever comes first
  // Checked every few milliseconds, so that a run of a millisecond costs
  // little more, in any thread.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.deadlineSeconds);
  int status = 0;
  pid_t waited = -1;
  bool mapped = false;
  const std::string proc = "/proc/" + std::to_string(pid) + "/";
  for (int pause = 1; pid > 0;) {
    if (g_leased >= 0) fcntl(g_leased, F_SETLEASE, F_WRLCK);
    waited = waitpid(pid, &status, WUNTRACED | WNOHANG);
    if (waited == pid && WIFSTOPPED(status)) {
      for (const char* map : {"uid_map", "gid_map"})
        if (options.userNamespace && !mapped) WriteFile(proc + map, "0 0 1\n65534 2 1\n");
      mapped = true;
      kill(pid, SIGCONT);  // a run stopped by a signal goes on, as a shell's "fg" makes it
    } else if (waited != 0) {
      break;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waited = waitpid(pid, &status, 0);
      std::string line;
      for (const auto& word : command) line.append(" ").append(word, 0, 60);
      ADD_FAILURE() << "killed past its deadline of " << options.deadlineSeconds << " s:" << line;
      break;
    } else {
      // Sent once the program runs, not to what starts it (strace -D).
      const std::string name = fs::path(command[0]).filename().string().substr(0, 15) + "\n";
      if (options.repeatedSignal && ReadFile(proc + "comm") == name)
        kill(pid, options.repeatedSignal);
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
      pause = std::min(pause * 2, options.repeatedSignal ? 2 : 16);
    }
  }
  if (waited == pid) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (g_leased >= 0) close(g_leased);
  result.out = ReadFile(outName);
  result.err = ReadFile(errName);
  unlink(outName.c_str());
  unlink(errName.c_str());
  return result;
}

RunResult RunProgram(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> command;
  if (UnderWine()) command.emplace_back(std::getenv("BRONTA_RUNNER"));
  command.push_back(options.program.empty() ? ProgramPath() : options.program);
  command.insert(command.end(), args.begin(), args.end());
  return RunCommand(command, options);
}

bool UnderWine() {
  const char* runner = std::getenv("BRONTA_RUNNER");
  return runner && *runner;
}

std::string ProgramPath() {
  // Always a program of this build tree, never one that PATH happens to find.
  const char* program = std::getenv("BRONTA_PROGRAM");
  return program && *program ? program : BRONTA_BUILT_PROGRAM;
}

}  // namespace testing_support
