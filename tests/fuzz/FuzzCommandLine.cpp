// The command-line splitter on arbitrary lines: no argument is longer than
// the limit, none keeps a quote, nothing but quotes, separators and what
// follows a 0 byte is dropped, and no word is empty.
#include <cstdlib>
#include <string_view>

#include "platform/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto words = platform::SplitCommandLine(line);
  std::size_t kept = 0;
  for (const auto& word : words) {
    if (word.size() > platform::kMaxArgumentBytes) std::abort();
    if (word.empty() || word.find('"') != std::string::npos) std::abort();
    kept += word.size();
  }
  const std::string_view upToZero = line.substr(0, line.find('\0'));
  std::size_t other = 0;  // bytes that are neither quotes nor separators
  for (unsigned char c : upToZero) other += c > 32 && c != '"';
  if (kept < other || kept > upToZero.size()) std::abort();
  return 0;
}
