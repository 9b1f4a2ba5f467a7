// The 26-byte header of an uncompressed WSS sound file, as Operation
// Flashpoint (v1.10 and later) reads it. The samples follow it directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bronta {

inline constexpr std::size_t kWssHeaderBytes = 26;

// The header as it is stored, little-endian and packed: "WSS0", a zero
// word, format 1 (PCM), 1 channel, the sample rate, bytes per second
// (rate * 2, wrapping at 32 bits), block alignment 2, 16 bits per sample,
// and the low 16 bits of the sample data size.
using WssHeader = std::array<std::uint8_t, kWssHeaderBytes>;

WssHeader BuildWssHeader(std::uint32_t sampleRate, std::uint64_t dataSize);

}  // namespace bronta
