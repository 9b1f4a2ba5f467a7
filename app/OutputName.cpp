#include "app/OutputName.h"

#include <cstddef>

namespace bronta {

namespace {

bool IsDelimiter(unsigned char c) {
  return c == '.' || c == '\\' || c == ':' || c == '/';
}

// Whether name[i] is the second byte of a double-byte character: the run of
// lead bytes right before it has odd length.
bool IsTrailByte(const std::string& name, std::size_t i, const platform::LeadByteSet& leadBytes) {
  std::size_t run = 0;
  while (run < i && leadBytes.IsLead(static_cast<unsigned char>(name[i - run - 1]))) ++run;
  return run % 2 == 1;
}

}  // namespace

std::string MakeOutputName(const std::string& inputName, const platform::LeadByteSet& leadBytes) {
  std::size_t stemLength = inputName.size();
  for (std::size_t i = inputName.size(); i > 0;) {
    const std::size_t at = i - 1;
    const auto c = static_cast<unsigned char>(inputName[at]);
    if (!IsDelimiter(c)) {
      i = at;
    } else if (leadBytes.doubleByte && IsTrailByte(inputName, at, leadBytes)) {
      i = at - 1;  // skip the whole double-byte character
    } else {
      if (c == '.') stemLength = at;
      break;
    }
  }
  return inputName.substr(0, stemLength) + ".wss";
}

}  // namespace bronta
