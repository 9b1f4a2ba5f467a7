#include "platform/FaultInjection.h"

#include <cstdio>
#include <cstdlib>
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

// BRONTA_FAIL_AT=N fails the Nth operation of any kind; BRONTA_INTERRUPT_AT=N
// interrupts the process at the Nth operation instead; BRONTA_RENAME_AT=N
// renames a folder just before it.
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
    std::fprintf(stderr, "injected rename: %s %d %s\n", operation, ordinal,
                 renamed ? "done" : "refused");
  }
  if (calls == interruptAt) {
    std::fprintf(stderr, "injected interrupt: %s %d\n", operation, ordinal);
    std::fflush(stderr);
    // Still here when interrupts are held or ignored: the operation goes on.
    if (!sys::RaiseInterrupt()) {
      std::fprintf(stderr, "interrupt not delivered\n");
      std::exit(77);
    }
  }
  if (calls != failAt) return false;
  std::fprintf(stderr, "injected fault: %s %d\n", operation, ordinal);
  return true;
}

}  // namespace platform
