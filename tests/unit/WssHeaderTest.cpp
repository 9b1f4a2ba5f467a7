#include "convert/WssHeader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const bronta::WssHeader& bytes) {
  std::string text;
  char pair[4];
  for (auto b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", b);
    text += pair;
  }
  text.pop_back();
  return text;
}

TEST(BuildWssHeader, StoresTheFieldsLittleEndian) {
  struct {
    std::uint32_t rate;
    std::uint64_t dataSize;
    const char* bytes;
  } const cases[] = {
      {22050, 44100,
       "57 53 53 30 00 00 00 00 01 00 01 00 22 56 00 00 44 AC 00 00 02 00 10 00 44 AC"},
      // The size word keeps only the low 16 bits of a larger size.
      {11025, 70000,
       "57 53 53 30 00 00 00 00 01 00 01 00 11 2B 00 00 22 56 00 00 02 00 10 00 70 11"},
      // Bytes per second wraps at 32 bits.
      {0x80000000u, 2,
       "57 53 53 30 00 00 00 00 01 00 01 00 00 00 00 80 00 00 00 00 02 00 10 00 02 00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(bronta::BuildWssHeader(c.rate, c.dataSize)), c.bytes)
        << c.rate << " " << c.dataSize;
  }
}

}  // namespace
