#include "app/OutputName.h"

#include <gtest/gtest.h>

namespace {

// The lead-byte ranges that Windows reports for code page 932 (Shift_JIS).
const std::uint8_t kCodePage932Ranges[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};

platform::LeadByteSet CodePage932() {
  return platform::LeadBytesFromRanges(true, kCodePage932Ranges, sizeof kCodePage932Ranges);
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
      {"c:voice", "c:voice.wss", "c:voice.wss"},
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
    EXPECT_EQ(bronta::MakeOutputName(c.input, singleByte), c.singleByte) << c.input;
    EXPECT_EQ(bronta::MakeOutputName(c.input, doubleByte), c.doubleByte) << c.input;
  }
}

TEST(LeadBytesFromRanges, FollowsThePairsTheSystemReports) {
  const auto set = CodePage932();
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(set.IsLead(static_cast<unsigned char>(b)),
              (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))
        << b;
  }
  // A reversed pair adds nothing; 0, 0 ends the list; only six pairs count.
  const std::uint8_t odd[] = {0xA0, 0x90, 0x81, 0x81, 0, 0, 0x90, 0x90};
  const auto reversed = platform::LeadBytesFromRanges(true, odd, sizeof odd);
  EXPECT_TRUE(reversed.IsLead(0x81));
  EXPECT_FALSE(reversed.IsLead(0x95));
  EXPECT_FALSE(reversed.IsLead(0x90));
  const std::uint8_t seven[] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7};
  const auto six = platform::LeadBytesFromRanges(true, seven, sizeof seven);
  EXPECT_TRUE(six.IsLead(6));
  EXPECT_FALSE(six.IsLead(7));
  // Without a double-byte code page the set stays empty.
  EXPECT_FALSE(platform::LeadBytesFromRanges(false, kCodePage932Ranges, 6).IsLead(0x81));
}

}  // namespace
