#include "platform/FaultInjection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace platform {

// BRONTA_FAIL_AT=N fails the Nth operation of any kind; BRONTA_FAIL_ALWAYS
// names one kind of operation that fails every time (for example "copy", to
// take the plain transfers all through).
bool InjectFault(const char* operation) {
  static const long failAt = [] {
    const char* text = std::getenv("BRONTA_FAIL_AT");
    return text ? std::strtol(text, nullptr, 10) : 0L;
  }();
  static const char* const failAlways = std::getenv("BRONTA_FAIL_ALWAYS");
  if (failAlways && std::strcmp(failAlways, operation) == 0) return true;
  static long calls = 0;
  static std::map<std::string, int> perOperation;
  const int ordinal = ++perOperation[operation];
  if (++calls != failAt) return false;
  std::fprintf(stderr, "injected fault: %s %d\n", operation, ordinal);
  return true;
}

}  // namespace platform
