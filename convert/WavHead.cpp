#include "convert/WavHead.h"

#include <cstring>

#include "convert/ByteOrder.h"
#include "convert/ErrorCodes.h"

namespace bronta {

namespace {

// The head of every chunk, the RIFF chunk around the file included: its
// identifier and the size of its body, which is followed by one pad byte
// when the size is odd.
struct ChunkHeader {
  std::uint8_t id[4];
  std::uint32_t size;
  std::uint64_t PaddedSize() const { return std::uint64_t{size} + (size & 1u); }
};

// What the conversion checks of the "fmt " chunk.
struct WavFormatBlock {
  std::uint16_t formatTag;
  std::uint16_t channels;
  std::uint32_t sampleRate;
  std::uint16_t bitsPerSample;
};

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

constexpr std::uint32_t kFormatBlockBytes = 16;
// cbSize, valid bits, channel mask and sub-format GUID of an extensible block.
constexpr std::uint32_t kExtensionBytes = 24;
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool IdIs(const std::uint8_t* id, const char* text) {
  return std::memcmp(id, text, 4) == 0;
}

// Reads exactly `count` bytes: errReadInput on failure, errBadWav when the
// source ends first.
int ReadExactly(HeadSource& source, std::uint8_t* buffer, std::uint32_t count) {
  const std::int32_t got = source.Read(buffer, count);
  if (got < 0) return errReadInput;
  return static_cast<std::uint32_t>(got) == count ? errNone : errBadWav;
}

int ReadChunkHeader(HeadSource& source, ChunkHeader& chunk) {
  std::uint8_t bytes[8];
  if (int code = ReadExactly(source, bytes, sizeof bytes)) return code;
  std::memcpy(chunk.id, bytes, 4);
  chunk.size = Le32(bytes + 4);
  return errNone;
}

// The block is laid out as format tag, channels, sample rate, bytes per
// second, block alignment and bits per sample.
WavFormatBlock DecodeFormatBlock(const std::uint8_t* b) {
  return WavFormatBlock{Le16(b), Le16(b + 2), Le32(b + 4), Le16(b + 14)};
}

// Reads the body of a "fmt " chunk and checks it.
int ReadFormatChunk(HeadSource& source, const ChunkHeader& chunk, WavFormatBlock& format) {
  const std::uint32_t size = chunk.size;
  if (size < kFormatBlockBytes) return errBadWav;
  std::uint8_t block[kFormatBlockBytes];
  if (int code = ReadExactly(source, block, sizeof block)) return code;
  format = DecodeFormatBlock(block);
  std::uint32_t consumed = kFormatBlockBytes;
  if (format.formatTag == kFormatExtensible) {
    if (size < kFormatBlockBytes + kExtensionBytes) return errBadWav;
    std::uint8_t extension[kExtensionBytes];
    if (int code = ReadExactly(source, extension, sizeof extension)) return code;
    consumed += kExtensionBytes;
    if (std::memcmp(extension + 8, kPcmSubFormat, sizeof kPcmSubFormat) != 0) return errBadWav;
  } else if (format.formatTag != kFormatPcm) {
    return errBadWav;
  }
  if (format.channels != 1 || format.bitsPerSample != 16 || format.sampleRate == 0) {
    return errBadWav;
  }
  return source.Skip(chunk.PaddedSize() - consumed) ? errNone : errReadInput;
}

}  // namespace

int ReadWavHead(HeadSource& source, WavHead& head) {
  // The file is one RIFF chunk whose body starts with the form type. Its
  // size is not used: recorders often leave it wrong.
  ChunkHeader riff;
  if (int code = ReadChunkHeader(source, riff)) return code;
  std::uint8_t formType[4];
  if (int code = ReadExactly(source, formType, sizeof formType)) return code;
  if (!IdIs(riff.id, "RIFF") || !IdIs(formType, "WAVE")) return errBadWav;

  bool haveFormat = false;
  WavFormatBlock format{};
  for (;;) {
    ChunkHeader chunk;
    if (int code = ReadChunkHeader(source, chunk)) return code;
    if (IdIs(chunk.id, "fmt ") && !haveFormat) {
      if (int code = ReadFormatChunk(source, chunk, format)) return code;
      haveFormat = true;
    } else if (IdIs(chunk.id, "data")) {
      if (!haveFormat) return errBadWav;
      const std::int64_t remaining = source.Remaining();
      if (remaining < 0) return errReadInput;
      head.sampleRate = format.sampleRate;
      head.dataSize = chunk.size < static_cast<std::uint64_t>(remaining)
                          ? chunk.size
                          : static_cast<std::uint64_t>(remaining);
      return errNone;
    } else if (!source.Skip(chunk.PaddedSize())) {
      return errReadInput;
    }
  }
}

}  // namespace bronta
