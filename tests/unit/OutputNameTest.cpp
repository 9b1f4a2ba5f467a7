#include "app/OutputName.h"

#include <gtest/gtest.h>

namespace {

// The lead bytes of code page 932 (Shift_JIS): 81 to 9F and E0 to FC.
platform::LeadByteSet CodePage932() {
  platform::LeadByteSet set;
  for (int b = 0; b < 256; ++b) set.lead[b] = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return set;
}

struct NameCase {
  std::string input;
  std::string singleByte;  // output with a single-byte code page
  std::string doubleByte;  // output with code page 932
};

TEST(MakeOutputName, ReplacesTheExtensionBesideTheInput) {
  const NameCase cases[] = {
      {"voice.wav", "voice.wss", "voice.wss"},
      {"VOICE.WAV", "VOICE.wss", "VOICE.wss"},
      {"voice", "voice.wss", "voice.wss"},
      {"voice.", "voice.wss", "voice.wss"},
      {"a.b.wav", "a.b.wss", "a.b.wss"},
      {"snd.old\\voice", "snd.old\\voice.wss", "snd.old\\voice.wss"},
      {"c.d:voice", "c.d:voice.wss", "c.d:voice.wss"},
      {"snd.old/voice", "snd.old/voice.wss", "snd.old/voice.wss"},
      {"dir/voice.wav", "dir/voice.wss", "dir/voice.wss"},
      {"voice.wss", "voice.wss", "voice.wss"},
      {".wav", ".wss", ".wss"},
      {"", ".wss", ".wss"},
      // A trail byte 5C is no backslash, and a trail byte 2E no dot.
      {"\x78\x2E\x83\x5C", "\x78\x2E\x83\x5C.wss", "\x78.wss"},
      {"\x81\x2E", "\x81.wss", "\x81\x2E.wss"},
      // Two double-byte characters: the second 2E is a trail byte again.
      {"a.\x81\x81\x81\x2E", "a.\x81\x81\x81.wss", "a.wss"},
      // An even run of lead bytes: the 2E after it is a dot of its own.
      {"a\x81\x81.b", "a\x81\x81.wss", "a\x81\x81.wss"},
  };
  const platform::LeadByteSet singleByte;
  const platform::LeadByteSet doubleByte = CodePage932();
  for (const auto& c : cases) {
    for (const auto& [leadBytes, expected] :
         {std::pair{singleByte, c.singleByte}, std::pair{doubleByte, c.doubleByte}}) {
      const bronta::OutputName name = bronta::MakeOutputName(c.input, leadBytes);
      EXPECT_EQ(name.folder + name.outputFile, expected) << c.input;
      EXPECT_EQ(name.folder + name.inputFile, c.input) << c.input;
    }
  }
}

}  // namespace
