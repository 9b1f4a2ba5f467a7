// Cutting a single command line into arguments, for platforms that hand the
// process one line rather than an argument vector.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Longest argument kept; the rest of a longer word starts the next argument.
inline constexpr std::size_t kMaxArgumentBytes = 4096;

// Splits `line` (ending at its end or at a 0 byte) into words, the program's
// own name first. Spaces and control bytes separate words; a double quote
// opens a section, ended by the next double quote, in which they do not; the
// quotes themselves are dropped. A word left empty (a pair of quotes, or a
// quote that opens at the very end) is dropped.
std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace platform
