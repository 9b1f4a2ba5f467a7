#include "convert/WssHeader.h"

#include <cstring>

#include "convert/ByteOrder.h"

namespace bronta {

WssHeader BuildWssHeader(std::uint32_t sampleRate, std::uint64_t dataSize) {
  WssHeader header{};
  std::memcpy(header.magic, "WSS0", 4);
  header.reserved = 0;
  header.formatTag = 1;
  header.channels = 1;
  header.sampleRate = sampleRate;
  header.avgBytesPerSec = sampleRate * 2u;
  header.blockAlign = 2;
  header.bitsPerSample = 16;
  header.sizeWord = static_cast<std::uint16_t>(dataSize & 0xFFFFu);
  return header;
}

std::array<std::uint8_t, kWssHeaderBytes> WssHeaderBytes(const WssHeader& header) {
  std::array<std::uint8_t, kWssHeaderBytes> bytes{};
  std::uint8_t* p = bytes.data();
  std::memcpy(p, header.magic, 4);
  PutLe32(p + 4, header.reserved);
  PutLe16(p + 8, header.formatTag);
  PutLe16(p + 10, header.channels);
  PutLe32(p + 12, header.sampleRate);
  PutLe32(p + 16, header.avgBytesPerSec);
  PutLe16(p + 20, header.blockAlign);
  PutLe16(p + 22, header.bitsPerSample);
  PutLe16(p + 24, header.sizeWord);
  return bytes;
}

}  // namespace bronta
