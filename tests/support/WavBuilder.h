// Builds WAV files byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

using Bytes = std::string;

inline Bytes Le16(std::uint16_t v) {
  return Bytes{char(v & 0xFF), char(v >> 8)};
}
inline Bytes Le32(std::uint32_t v) {
  return Le16(std::uint16_t(v)) + Le16(std::uint16_t(v >> 16));
}

// A chunk with its head; the pad byte after an odd body is added.
inline Bytes Chunk(const char* id, const Bytes& body) {
  Bytes pad = body.size() % 2 ? Bytes(1, '\0') : Bytes();
  return Bytes(id, 4) + Le32(static_cast<std::uint32_t>(body.size())) + body + pad;
}

// A chunk head that announces `size` bytes, without the body.
inline Bytes ChunkHead(const char* id, std::uint32_t size) {
  return Bytes(id, 4) + Le32(size);
}

inline Bytes Riff(const Bytes& chunks) {
  return "RIFF" + Le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

inline Bytes FormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                        std::uint16_t bits) {
  const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
  return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
}

inline Bytes PcmFormat(std::uint32_t rate) {
  return FormatBody(1, 1, rate, 16);
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format GUID (16 bytes).
inline Bytes ExtensibleFormat(std::uint32_t rate, const Bytes& guid) {
  return FormatBody(0xFFFE, 1, rate, 16) + Le16(22) + Le16(16) + Le32(4) + guid;
}

inline const Bytes kPcmGuid("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);

// `count` bytes that differ from their neighbours, to catch moved or lost bytes.
inline Bytes Pattern(std::size_t count, unsigned seed = 1) {
  Bytes bytes(count, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<char>(x >> 16);
  }
  return bytes;
}

// The canonical 44-byte head followed by `samples`.
inline Bytes CanonicalWav(std::uint32_t rate, const Bytes& samples) {
  return Riff(Chunk("fmt ", PcmFormat(rate)) + Chunk("data", samples));
}

// The WSS file that converting these samples at this rate must give.
inline Bytes Wss(std::uint32_t rate, const Bytes& samples, std::uint64_t sizeWord) {
  return "WSS0" + Le32(0) + Le16(1) + Le16(1) + Le32(rate) + Le32(rate * 2) + Le16(2) + Le16(16) +
         Le16(static_cast<std::uint16_t>(sizeWord)) + samples;
}

}  // namespace testing_support
