#include "app/Messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MessageFor, KnowsExactlyTheFiveErrors) {
  const std::pair<int, const char*> table[] = {
      {1, "Error while opening input file."},
      {2, "Error while creating output file."},
      {5, "Error while reading intput file."},
      {6, "Error while writing output file."},
      {9, "Bad WAV format."},
  };
  for (int code = -2; code <= 12; ++code) {
    const char* expected = nullptr;
    for (const auto& [c, text] : table) {
      if (c == code) expected = text;
    }
    const char* message = bronta::MessageFor(code);
    if (expected == nullptr) {
      EXPECT_EQ(message, nullptr) << code;
    } else {
      EXPECT_STREQ(message, expected) << code;
    }
  }
}

}  // namespace
