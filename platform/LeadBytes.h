// Which bytes start a double-byte character in the ANSI code page. File
// names are byte strings in that code page, and the output name rule must not
// take the second byte of such a character for a delimiter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

struct LeadByteSet {
  bool doubleByte = false;          // the code page has double-byte characters
  std::array<bool, 256> lead = {};  // lead[b]: byte b starts such a character

  bool IsLead(unsigned char byte) const { return doubleByte && lead[byte]; }
};

// Builds the set from (low, high) pairs as the system reports them: at most
// six pairs, in order, ending early at a pair 0, 0; each pair adds the bytes
// low to high inclusive, and a pair with high below low adds nothing. Without
// `doubleByte` the set stays empty.
LeadByteSet LeadBytesFromRanges(bool doubleByte, const std::uint8_t* pairs, std::size_t pairBytes);

}  // namespace platform
