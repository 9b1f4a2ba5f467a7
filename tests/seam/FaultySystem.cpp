// The calls of SystemCalls.inc for bronta_faulty, generated from that list:
// each forwards to the operating system's own (platform::os), and each step
// is counted, so that one of them can be made to act as the environment
// says:
//   BRONTA_FAIL_AT=N        the Nth step fails as the system would make it
//                           fail (BRONTA_FAIL_ALSO=NAME: every step of that
//                           name too); a move or a removal is made to fail by
//                           the system itself;
//   BRONTA_INTERRUPT_AT=N   the process is interrupted just before the Nth
//                           step, by the signal BRONTA_INTERRUPT_SIGNAL
//                           (SIGINT, 2, by default; Windows: Ctrl+C);
//   BRONTA_RENAME_AT=N      just before the Nth step, the folder
//                           BRONTA_RENAME_FOLDER is renamed to the same name
//                           with ".moved" added, and an empty one made in its
//                           place, as by another program;
//   BRONTA_END_AT=N         the Nth read finds the end of the file;
//   BRONTA_RANDOM_FROM=N    the random numbers are N, N+1, ...;
//   BRONTA_PAUSE_AT="NAME N"  just before the Nth step of that name, the
//                           file BRONTA_PAUSE_FILE is made, and the run waits
//                           until it is removed.
// Each acting step is named on standard error: "NAME N", the Nth call of
// that name; a close is named CloseFileHandle(output) for the file that
// CreateNewFile made, else CloseFileHandle(input).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "platform/Platform.h"

namespace platform {

namespace {

long NumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::strtol(text, nullptr, 10) : 0L;
}

// Counts one step of `name` and does what the environment says at it; true
// when the step must fail.
bool Step(const char* name) {
  static const long failAt = NumberFromEnvironment("BRONTA_FAIL_AT");
  static const long interruptAt = NumberFromEnvironment("BRONTA_INTERRUPT_AT");
  static const long renameAt = NumberFromEnvironment("BRONTA_RENAME_AT");
  static long calls = 0;
  static std::map<std::string, int> perName;
  const int ordinal = ++perName[name];
  ++calls;
  static const char* const pauseAt = std::getenv("BRONTA_PAUSE_AT");
  if (pauseAt && std::string(name) + " " + std::to_string(ordinal) == pauseAt) {
    const char* pauseFile = std::getenv("BRONTA_PAUSE_FILE");
    std::ofstream{pauseFile};
    while (std::filesystem::exists(pauseFile))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (calls == renameAt) {
    const char* folder = std::getenv("BRONTA_RENAME_FOLDER");
    const std::string from = folder ? folder : "";
    const bool renamed = std::rename(from.c_str(), (from + ".moved").c_str()) == 0;
    std::error_code ignored;
    if (renamed) std::filesystem::create_directory(from, ignored);  // a folder swapped in
    std::fprintf(stderr, "injected rename: %s %d %s\n", name, ordinal,
                 renamed ? "done" : "refused");
  }
  if (calls == interruptAt) {
    std::fprintf(stderr, "injected interrupt: %s %d\n", name, ordinal);
    std::fflush(stderr);
    // Still here when signals are blocked or ignored: the step goes on.
    static const long signalNumber = NumberFromEnvironment("BRONTA_INTERRUPT_SIGNAL");
    if (!os::RaiseInterrupt(signalNumber > 0 ? static_cast<int>(signalNumber) : 2)) {
      std::fprintf(stderr, "interrupt not delivered\n");
      std::exit(77);
    }
  }
  static const char* const failAlso = std::getenv("BRONTA_FAIL_ALSO");
  if (calls != failAt && !(failAlso && name == std::string(failAlso))) return false;
  std::fprintf(stderr, "injected fault: %s %d\n", name, ordinal);
  return true;
}

}  // namespace

#define SYSTEM_CALL(result, name, parameters, arguments) \
  result name parameters {                               \
    return os::name arguments;                           \
  }
#define SYSTEM_STEP(result, name, parameters, arguments, failure) \
  result name parameters {                                        \
    return Step(#name) ? failure : os::name arguments;            \
  }
#define SYSTEM_CUSTOM_STEP(result, name, parameters, arguments)
#define SYSTEM_END(name, parameters, arguments) \
  void name parameters {                        \
    os::name arguments;                         \
  }
#include "platform/SystemCalls.inc"

// The steps that fail in ways of their own.

bool RandomNumber(std::uint64_t& number) {
  static long next = NumberFromEnvironment("BRONTA_RANDOM_FROM");
  if (Step("RandomNumber")) return false;
  if (next == 0) return os::RandomNumber(number);
  number = static_cast<std::uint64_t>(next++);
  return true;
}

std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  static const long endAt = NumberFromEnvironment("BRONTA_END_AT");
  static long reads = 0;
  if (Step("ReadOnce")) return -1;
  if (++reads != endAt) return os::ReadOnce(file, buffer, count);
  std::fprintf(stderr, "injected end: ReadOnce %ld\n", reads);
  return 0;
}

FileHandle g_created = kInvalidHandle;  // the file that CreateNewFile made

bool CloseFileHandle(FileHandle file) {
  const bool closed = os::CloseFileHandle(file);  // closed all the same
  return !Step(file == g_created ? "CloseFileHandle(output)" : "CloseFileHandle(input)") && closed;
}

// As though another file had the name first.
FileHandle CreateNewFile(const Folder& folder, const std::string& name, const EarlierFile& earlier,
                         CreateFailure& why) {
  if (!Step("CreateNewFile")) return g_created = os::CreateNewFile(folder, name, earlier, why);
  why = CreateFailure::kNameTaken;
  return kInvalidHandle;
}

// A move or a removal that the system refuses: onto, or of, the folder
// itself.
bool MoveReplacing(const Folder& folder, const std::string& from, FileHandle file,
                   const std::string& to) {
  return os::MoveReplacing(folder, from, file, Step("MoveReplacing") ? "" : to);
}

bool RemoveFile(const Folder& folder, const std::string& name) {
  return os::RemoveFile(folder, Step("RemoveFile") ? "" : name);
}

}  // namespace platform
