#include "platform/FaultInjection.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/System.h"

namespace platform {

namespace {

long NumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::strtol(text, nullptr, 10) : 0L;
}

}  // namespace

// BRONTA_FAIL_AT=N fails the Nth operation of any kind, and
// BRONTA_FAIL_ALSO=OPERATION every operation of that kind; BRONTA_INTERRUPT_AT=N
// interrupts the process at the Nth operation instead, with the signal
// BRONTA_INTERRUPT_SIGNAL (SIGINT, 2, by default); BRONTA_RENAME_AT=N
// renames a folder just before it and makes an empty one in its place.
bool InjectFault(const char* operation) {
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
    // Still here when interrupts are held or ignored: the operation goes on.
    static const long signalNumber = NumberFromEnvironment("BRONTA_INTERRUPT_SIGNAL");
    if (!sys::RaiseInterrupt(signalNumber > 0 ? static_cast<int>(signalNumber) : 2)) {
      std::fprintf(stderr, "interrupt not delivered\n");
      std::exit(77);
    }
  }
  static const char* const failAlso = std::getenv("BRONTA_FAIL_ALSO");
  if (calls != failAt && !(failAlso && operation == std::string(failAlso))) return false;
  std::fprintf(stderr, "injected fault: %s %d\n", operation, ordinal);
  return true;
}

// BRONTA_END_AT=N: the Nth read finds the end of the file.
bool InjectEndOfFile() {
  static const long endAt = NumberFromEnvironment("BRONTA_END_AT");
  static long reads = 0;
  if (++reads != endAt) return false;
  std::fprintf(stderr, "injected end: read %ld\n", reads);
  return true;
}

}  // namespace platform
