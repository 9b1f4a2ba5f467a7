#include "platform/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, CutsWordsAsWindowsProgramsDo) {
  const std::string longWord(5000, 'x');
  const std::string longQuoted(5000, ' ');
  struct {
    std::string line;
    Words words;
  } const cases[] = {
      {"\x01 bronta\t voice.wav \x1F a", {"bronta", "voice.wav", "a"}},
      {"bronta \"my voice.wav\"", {"bronta", "my voice.wav"}},
      {"bronta \"\" x", {"bronta", "x"}},
      {"bronta \"\" \"\"", {"bronta"}},
      {"bronta \"\"x", {"bronta", "x"}},
      {"bronta a\"b c\"d", {"bronta", "ab cd"}},
      {"bronta a\"\"b", {"bronta", "ab"}},
      {"bronta \"open to the end", {"bronta", "open to the end"}},
      {"bronta \"", {"bronta"}},
      {"\"C:\\Program Files\\bronta.exe\" -h", {"C:\\Program Files\\bronta.exe", "-h"}},
      {std::string("bronta a\0b", 10), {"bronta", "a"}},
      {"bronta \x81\xFF", {"bronta", "\x81\xFF"}},
      {"bronta " + longWord, {"bronta", longWord.substr(0, 4096), longWord.substr(4096)}},
      // Inside quotes the limit holds too; the rest stays quoted.
      {"bronta \"" + longQuoted + "\"",
       {"bronta", longQuoted.substr(0, 4096), longQuoted.substr(4096)}},
      {"bronta " + std::string(4096, 'y') + "\"q\"", {"bronta", std::string(4096, 'y'), "q"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::SplitCommandLine(c.line), c.words) << c.line.substr(0, 60);
  }
}

}  // namespace
