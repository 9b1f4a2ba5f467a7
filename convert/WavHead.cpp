#include "convert/WavHead.h"

#include <cstring>

#include "convert/ByteOrder.h"
#include "convert/ErrorCodes.h"

namespace bronta {

namespace {

// The 12 bytes at the start of the file.
struct RiffHeader {
  std::uint8_t fileId[4];    // "RIFF"
  std::uint32_t riffSize;    // not used: often wrong in files that recorders left
  std::uint8_t formType[4];  // "WAVE"
};

// The head of every chunk: its identifier and the size of its body, which is
// followed by one pad byte when the size is odd.
struct ChunkHeader {
  std::uint8_t chunkId[4];
  std::uint32_t chunkSize;
};

// The first 16 bytes of the "fmt " chunk.
struct WavFormatBlock {
  std::uint16_t formatTag;
  std::uint16_t channels;
  std::uint32_t sampleRate;
  std::uint32_t avgBytesPerSec;
  std::uint16_t blockAlign;
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

std::uint64_t Padded(std::uint32_t size) {
  return std::uint64_t{size} + (size & 1u);
}

// Reads exactly `count` bytes: errReadInput on failure, errBadWav when the
// source ends first.
int ReadExactly(HeadSource& source, std::uint8_t* buffer, std::uint32_t count) {
  const std::int32_t got = source.Read(buffer, count);
  if (got < 0) return errReadInput;
  return static_cast<std::uint32_t>(got) == count ? errNone : errBadWav;
}

WavFormatBlock DecodeFormatBlock(const std::uint8_t* b) {
  return WavFormatBlock{Le16(b), Le16(b + 2), Le32(b + 4), Le32(b + 8), Le16(b + 12), Le16(b + 14)};
}

// Reads the body of a "fmt " chunk of `size` bytes and checks it.
int ReadFormatChunk(HeadSource& source, std::uint32_t size, WavFormatBlock& format) {
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
  return source.Skip(Padded(size) - consumed) ? errNone : errReadInput;
}

}  // namespace

int ReadWavHead(HeadSource& source, WavHead& head) {
  std::uint8_t riffBytes[12];
  if (int code = ReadExactly(source, riffBytes, sizeof riffBytes)) return code;
  RiffHeader riff;
  std::memcpy(riff.fileId, riffBytes, 4);
  riff.riffSize = Le32(riffBytes + 4);
  std::memcpy(riff.formType, riffBytes + 8, 4);
  if (!IdIs(riff.fileId, "RIFF") || !IdIs(riff.formType, "WAVE")) return errBadWav;

  bool haveFormat = false;
  WavFormatBlock format{};
  for (;;) {
    std::uint8_t chunkBytes[8];
    if (int code = ReadExactly(source, chunkBytes, sizeof chunkBytes)) return code;
    ChunkHeader chunk;
    std::memcpy(chunk.chunkId, chunkBytes, 4);
    chunk.chunkSize = Le32(chunkBytes + 4);

    if (IdIs(chunk.chunkId, "fmt ") && !haveFormat) {
      if (int code = ReadFormatChunk(source, chunk.chunkSize, format)) return code;
      haveFormat = true;
    } else if (IdIs(chunk.chunkId, "data")) {
      if (!haveFormat) return errBadWav;
      const std::int64_t remaining = source.Remaining();
      if (remaining < 0) return errReadInput;
      head.sampleRate = format.sampleRate;
      head.dataSize = chunk.chunkSize < static_cast<std::uint64_t>(remaining)
                          ? chunk.chunkSize
                          : static_cast<std::uint64_t>(remaining);
      return errNone;
    } else if (!source.Skip(Padded(chunk.chunkSize))) {
      return errReadInput;
    }
  }
}

}  // namespace bronta
