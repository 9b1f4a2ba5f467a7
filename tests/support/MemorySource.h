// A WAV head source over bytes in memory, which can fail its Nth read.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

#include "convert/WavHead.h"

namespace testing_support {

class MemorySource final : public bronta::HeadSource {
 public:
  explicit MemorySource(std::string_view bytes, int failingRead = 0)
      : bytes_(bytes), failingRead_(failingRead) {}

  std::int32_t Read(void* buffer, std::uint32_t count) override {
    if (++reads_ == failingRead_) return -1;
    if (position_ >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(count, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return static_cast<std::int32_t>(n);
  }
  bool Skip(std::uint64_t count) override {
    position_ = count > UINT64_MAX - position_ ? UINT64_MAX : position_ + count;
    return true;
  }
  std::int64_t Remaining() override {
    return position_ < bytes_.size() ? static_cast<std::int64_t>(bytes_.size() - position_) : 0;
  }
  std::uint64_t position() const { return position_; }

 private:
  std::string_view bytes_;
  int failingRead_;
  int reads_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace testing_support
