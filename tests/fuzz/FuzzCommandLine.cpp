// The command-line splitter on arbitrary lines: no argument is longer than
// the limit, none keeps a quote, nothing but quotes, separators and what
// follows a 0 byte is dropped, and only the last word may be empty.
#include <cstdlib>
#include <string_view>

#include "platform/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto words = platform::SplitCommandLine(line);
  std::size_t kept = 0;
  for (const auto& word : words) {
    if (word.size() > platform::kMaxArgumentBytes) std::abort();
    if (word.find('"') != std::string::npos) std::abort();
    kept += word.size();
  }
  const std::string_view upToZero = line.substr(0, line.find('\0'));
  std::size_t other = 0;  // bytes that are neither quotes nor separators
  for (unsigned char c : upToZero) other += c > 32 && c != '"';
  if (kept < other || kept > upToZero.size()) std::abort();
  // An empty word can only come from a quote left open at the very end, so
  // the arguments, counted up to the first empty one, are all the words
  // after the program name but such a last one.
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i].empty()) std::abort();
  }
  int expected = 0;
  if (words.size() > 1) expected = static_cast<int>(words.size()) - 1 - words.back().empty();
  if (platform::CountArguments(words) != expected) std::abort();
  return 0;
}
