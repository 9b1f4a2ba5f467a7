// The system calls of System.h for bronta_faulty, the program the fault
// walks run: each forwards to the operating system's own (platform::os), and
// the steps of FaultSteps.h are counted, so that one of them can be made to
// act as the environment says:
//   BRONTA_FAIL_AT=N        the Nth step fails as the system would make it
//                           fail (BRONTA_FAIL_ALSO=STEP: every step of that
//                           kind too); a move or a removal fails for real;
//   BRONTA_INTERRUPT_AT=N   the process is interrupted just before the Nth
//                           step, as by a user's Ctrl+C or the signal
//                           BRONTA_INTERRUPT_SIGNAL (SIGINT, 2, by default);
//   BRONTA_RENAME_AT=N      just before the Nth step, the folder
//                           BRONTA_RENAME_FOLDER is renamed to the same name
//                           with ".moved" added, and an empty one made in its
//                           place, as by another program;
//   BRONTA_END_AT=N         the Nth read finds the end of the file.
// Each acting step is named on standard error.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/System.h"
#include "seam/FaultSteps.h"

namespace platform::sys {

namespace {

using namespace fault_steps;

long NumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::strtol(text, nullptr, 10) : 0L;
}

// Counts one step of `operation` and does what the environment says at it;
// true when the step must fail.
bool Step(const char* operation) {
  static const long failAt = NumberFromEnvironment("BRONTA_FAIL_AT");
  static const long interruptAt = NumberFromEnvironment("BRONTA_INTERRUPT_AT");
  static const long renameAt = NumberFromEnvironment("BRONTA_RENAME_AT");
  static long calls = 0;
  static std::map<std::string, int> perOperation;
  const int ordinal = ++perOperation[operation];
  ++calls;
  if (calls == renameAt) {
    const char* folder = std::getenv("BRONTA_RENAME_FOLDER");
    const std::string from = folder ? folder : "";
    const bool renamed = std::rename(from.c_str(), (from + ".moved").c_str()) == 0;
    std::error_code ignored;
    if (renamed) std::filesystem::create_directory(from, ignored);  // a folder swapped in
    std::fprintf(stderr, "injected rename: %s %d %s\n", operation, ordinal,
                 renamed ? "done" : "refused");
  }
  if (calls == interruptAt) {
    std::fprintf(stderr, "injected interrupt: %s %d\n", operation, ordinal);
    std::fflush(stderr);
    // Still here when interrupts are held or ignored: the step goes on.
    static const long signalNumber = NumberFromEnvironment("BRONTA_INTERRUPT_SIGNAL");
    if (!os::RaiseInterrupt(signalNumber > 0 ? static_cast<int>(signalNumber) : 2)) {
      std::fprintf(stderr, "interrupt not delivered\n");
      std::exit(77);
    }
  }
  static const char* const failAlso = std::getenv("BRONTA_FAIL_ALSO");
  if (calls != failAt && !(failAlso && operation == std::string(failAlso))) return false;
  std::fprintf(stderr, "injected fault: %s %d\n", operation, ordinal);
  return true;
}

bool EndOfFileHere() {
  static const long endAt = NumberFromEnvironment("BRONTA_END_AT");
  static long reads = 0;
  if (++reads != endAt) return false;
  std::fprintf(stderr, "injected end: read %ld\n", reads);
  return true;
}

}  // namespace

// The steps.

bool OpenFolder(const std::string& path, Folder& folder) {
  return !Step(kFolder) && os::OpenFolder(path, folder);
}

FileHandle OpenRegularFile(const Folder& folder, const std::string& name) {
  return Step(kOpen) ? kInvalidHandle : os::OpenRegularFile(folder, name);
}

bool MayReplace(const Folder& folder, const std::string& name, FileHandle input) {
  return !Step(kCheck) && os::MayReplace(folder, name, input);
}

// As though another file had the name first.
FileHandle CreateNewFile(const Folder& folder, const std::string& name, const std::string& like,
                         CreateFailure& why) {
  if (!Step(kCreate)) return os::CreateNewFile(folder, name, like, why);
  why = CreateFailure::kNameTaken;
  return kInvalidHandle;
}

bool TakeProtection(const Folder& folder, const std::string& like, FileHandle file) {
  return !Step(kProtect) && os::TakeProtection(folder, like, file);
}

std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  if (Step(kRead)) return -1;
  return EndOfFileHere() ? 0 : os::ReadOnce(file, buffer, count);
}

std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  // A line on standard output comes after the run's last step.
  if (file != os::StandardOutput() && Step(kWrite)) return -1;
  return os::WriteOnce(file, buffer, count);
}

bool SeekTo(FileHandle file, std::uint64_t offset) {
  return !Step(kSeek) && os::SeekTo(file, offset);
}

std::int64_t FileSize(FileHandle file) {
  return Step(kSize) ? -1 : os::FileSize(file);
}

// A failed close has closed the file all the same.
bool Close(FileHandle file) {
  const bool closed = os::Close(file);
  return !Step(kClose) && closed;
}

// A move or a removal fails for real: onto, or of, the folder itself.
bool MoveReplacing(const Folder& folder, const std::string& from, const std::string& to) {
  return os::MoveReplacing(folder, from, Step(kMove) ? "" : to);
}

bool RemoveFile(const Folder& folder, const std::string& name) {
  return os::RemoveFile(folder, Step(kRemove) ? "" : name);
}

// The rest, as the system does it.

void PrepareProcess() {
  os::PrepareProcess();
}
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return os::CommandLineArguments(argc, argv);
}
LeadByteSet CodePageLeadBytes() {
  return os::CodePageLeadBytes();
}
std::uint64_t RandomNumber() {
  return os::RandomNumber();
}
void ExitProcess(int status) {
  os::ExitProcess(status);
}
void KeepMessageShown() {
  os::KeepMessageShown();
}
FileHandle StandardOutput() {
  return os::StandardOutput();
}
const char* LineEnd() {
  return os::LineEnd();
}
const char* FolderSeparators() {
  return os::FolderSeparators();
}
void EmptyFile(const Folder& folder, const std::string& name, FileHandle file) {
  os::EmptyFile(folder, name, file);
}
void HoldInterrupts() {
  os::HoldInterrupts();
}
void ReleaseInterrupts() {
  os::ReleaseInterrupts();
}
bool RemoveOnInterrupt(const Folder& folder, const std::string& name, FileHandle file) {
  return os::RemoveOnInterrupt(folder, name, file);
}
bool RaiseInterrupt(int signalNumber) {
  return os::RaiseInterrupt(signalNumber);
}

}  // namespace platform::sys
