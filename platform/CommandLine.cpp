#include "platform/CommandLine.h"

namespace platform {

namespace {

constexpr unsigned char kQuote = '"';

bool IsSeparator(unsigned char c) {
  return c >= 1 && c <= 32;
}

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
      while (IsSeparator(at(pos))) ++pos;
      if (at(pos) == 0) break;
    }
    std::string word;
    for (;;) {
      const unsigned char c = at(pos);
      if (quoted) {
        if (c == 0) break;
        if (c == kQuote) {
          quoted = false;
          ++pos;
          continue;
        }
        if (word.size() == kMaxArgumentBytes) break;
      } else {
        if (c <= 32) break;
        if (word.size() == kMaxArgumentBytes) break;
        if (c == kQuote) {
          quoted = true;
          ++pos;
          continue;
        }
      }
      word.push_back(static_cast<char>(c));
      ++pos;
    }
    if (!word.empty()) words.push_back(std::move(word));
    if (at(pos) == 0) break;
  }
  return words;
}

}  // namespace platform
