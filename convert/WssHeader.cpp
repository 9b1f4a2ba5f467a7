#include "convert/WssHeader.h"

#include <algorithm>

#include "convert/ByteOrder.h"

namespace bronta {

WssHeader BuildWssHeader(std::uint32_t sampleRate, std::uint64_t dataSize) {
  WssHeader header{};  // bytes 4 to 7 stay 0
  std::uint8_t* p = header.data();
  std::copy_n("WSS0", 4, p);
  PutLe16(p + 8, 1);
  PutLe16(p + 10, 1);
  PutLe32(p + 12, sampleRate);
  PutLe32(p + 16, sampleRate * 2u);
  PutLe16(p + 20, 2);
  PutLe16(p + 22, 16);
  PutLe16(p + 24, static_cast<std::uint16_t>(dataSize & 0xFFFFu));
  return header;
}

}  // namespace bronta
