// A WAV head source over bytes in memory, which can fail its Nth call and
// can claim more bytes after those it holds, as a file of gigabytes would.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

#include "convert/WavHead.h"

namespace testing_support {

class MemorySource final : public bronta::HeadSource {
 public:
  // `failingCall`: the call (of Read, SeekTo and Size, counted from 1) that
  // fails, or 0 for none. `unheldBytes`: bytes past those held that Size
  // counts and Read never reaches.
  explicit MemorySource(std::string_view bytes, int failingCall = 0, std::uint64_t unheldBytes = 0)
      : bytes_(bytes), failingCall_(failingCall), unheldBytes_(unheldBytes) {}

  std::int32_t Read(void* buffer, std::uint32_t count) override {
    if (Fails()) return -1;
    if (position_ >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(count, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return static_cast<std::int32_t>(n);
  }
  bool SeekTo(std::uint64_t offset) override {
    if (Fails()) return false;
    position_ = offset;
    return true;
  }
  std::int64_t Size() override {
    if (Fails()) return -1;
    return static_cast<std::int64_t>(bytes_.size() + unheldBytes_);
  }

  int calls() const { return calls_; }

 private:
  bool Fails() { return ++calls_ == failingCall_; }

  std::string_view bytes_;
  int failingCall_;
  std::uint64_t unheldBytes_;
  int calls_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace testing_support
