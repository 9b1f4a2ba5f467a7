// The 26-byte header of an uncompressed WSS sound file, as Operation
// Flashpoint (v1.10 and later) reads it. The samples follow it directly.
#pragma once

#include <array>
#include <cstdint>

namespace bronta {

struct WssHeader {
  std::uint8_t magic[4];         // "WSS0"
  std::uint32_t reserved;        // always 0
  std::uint16_t formatTag;       // 1: PCM
  std::uint16_t channels;        // 1
  std::uint32_t sampleRate;      // copied from the input
  std::uint32_t avgBytesPerSec;  // sampleRate * 2, wrapping at 32 bits
  std::uint16_t blockAlign;      // 2
  std::uint16_t bitsPerSample;   // 16
  std::uint16_t sizeWord;        // low 16 bits of the sample data size
};

inline constexpr std::size_t kWssHeaderBytes = 26;

WssHeader BuildWssHeader(std::uint32_t sampleRate, std::uint64_t dataSize);

// The header as it is stored: little-endian, packed.
std::array<std::uint8_t, kWssHeaderBytes> WssHeaderBytes(const WssHeader& header);

}  // namespace bronta
