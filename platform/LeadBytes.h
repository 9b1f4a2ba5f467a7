// Which bytes start a double-byte character in the ANSI code page. File
// names are byte strings in that code page, and the output name rule must not
// take the second byte of such a character for a delimiter. A code page
// without double-byte characters has no lead bytes.
#pragma once

#include <array>

namespace platform {

struct LeadByteSet {
  std::array<bool, 256> lead = {};  // lead[b]: byte b starts such a character

  bool IsLead(unsigned char byte) const { return lead[byte]; }
};

}  // namespace platform
