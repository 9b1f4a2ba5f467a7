#include "platform/CommandLine.h"

namespace platform {

namespace {

constexpr unsigned char kQuote = '"';

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  const auto at = [&line](std::size_t i) -> unsigned char {
    return i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
  };
  std::vector<std::string> words;
  std::size_t pos = 0;
  bool quoted = false;  // a word cut at the length limit inside quotes goes on quoted
  for (;;) {
    if (!quoted) {
      while (at(pos) != 0 && at(pos) <= 32) ++pos;  // spaces and control bytes
      if (at(pos) == 0) break;
    }
    std::string word;
    for (unsigned char c; (c = at(pos)) != 0 && (quoted || c > 32); ++pos) {
      // A quote closes a section at any length, and opens one only below it.
      if (c == kQuote && (quoted || word.size() < kMaxArgumentBytes)) {
        quoted = !quoted;
        continue;
      }
      if (word.size() == kMaxArgumentBytes) break;
      word.push_back(static_cast<char>(c));
    }
    if (!word.empty()) words.push_back(std::move(word));
    if (at(pos) == 0) break;
  }
  return words;
}

}  // namespace platform
