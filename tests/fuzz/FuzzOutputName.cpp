// The output name rule with arbitrary lead-byte tables and names: the result
// always ends in ".wss" and keeps every byte before the dot it replaced.
#include <cstdlib>
#include <string>

#include "app/OutputName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kTableBytes = 13;  // a flag and six (low, high) pairs
  if (size < kTableBytes) return 0;
  const auto leadBytes = platform::LeadBytesFromRanges(data[0] & 1, data + 1, 12);
  const std::string name(reinterpret_cast<const char*>(data + kTableBytes), size - kTableBytes);
  const std::string output = bronta::MakeOutputName(name, leadBytes);
  if (output.size() < 4 || output.compare(output.size() - 4, 4, ".wss") != 0) std::abort();
  const std::size_t stem = output.size() - 4;
  if (stem > name.size() || name.compare(0, stem, output, 0, stem) != 0) std::abort();
  // Either the whole name was kept, or it was cut at a dot.
  if (stem < name.size() && name[stem] != '.') std::abort();
  // Nothing after that dot may be a delimiter that counts as one.
  if (!leadBytes.doubleByte && stem < name.size() &&
      name.find_first_of(".\\:/", stem + 1) != std::string::npos) {
    std::abort();
  }
  return 0;
}
