#include "app/Messages.h"

#include <gtest/gtest.h>

#include "support/Messages.h"

namespace {

TEST(MessageFor, KnowsExactlyTheFiveErrors) {
  for (int code = -2; code <= 12; ++code) {
    const auto it = testing_support::kMessageOfStatus.find(code);
    const char* message = bronta::MessageFor(code);
    if (it == testing_support::kMessageOfStatus.end()) {
      EXPECT_EQ(message, nullptr) << code;
    } else {
      EXPECT_STREQ(message, it->second) << code;
    }
  }
}

}  // namespace
