#include "platform/LeadBytes.h"

namespace platform {

LeadByteSet LeadBytesFromRanges(bool doubleByte, const std::uint8_t* pairs, std::size_t pairBytes) {
  constexpr std::size_t kMaxPairs = 6;
  LeadByteSet set;
  set.doubleByte = doubleByte;
  if (!doubleByte) return set;
  for (std::size_t i = 0; i < kMaxPairs && 2 * i + 1 < pairBytes; ++i) {
    const unsigned low = pairs[2 * i];
    const unsigned high = pairs[2 * i + 1];
    if (low == 0 && high == 0) break;
    for (unsigned b = low; b <= high; ++b) set.lead[b] = true;
  }
  return set;
}

}  // namespace platform
