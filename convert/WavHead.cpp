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

// A data size that means "to the end of the file".
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFF;

bool IdIs(const std::uint8_t* id, const char* text) {
  return std::memcmp(id, text, 4) == 0;
}

// The head as a stream of bytes read through one buffer. A skip within the
// buffer reads nothing; one past it costs one seek, and only a file that
// long has room for it: the calls grow with the file's size, never with
// what its sizes claim.
class HeadReader {
 public:
  explicit HeadReader(HeadSource& source) : source_(source) {}

  // Exactly `count` bytes: errReadInput when the source fails, errBadWav
  // when it ends first.
  ErrorCode Take(std::uint8_t* out, std::uint32_t count) {
    while (count > 0) {
      if (used_ == filled_) {
        if (ErrorCode code = Refill(); code != errNone) return code;
      }
      const std::uint32_t n = count < filled_ - used_ ? count : filled_ - used_;
      std::memcpy(out, buffer_ + used_, n);
      used_ += n;
      out += n;
      count -= n;
    }
    return errNone;
  }

  // Moves `count` bytes on, perhaps past the end: then the next Take finds
  // nothing there.
  void Skip(std::uint64_t count) {
    if (count <= filled_ - used_) {
      used_ += static_cast<std::uint32_t>(count);
      return;
    }
    start_ = Offset() + count;
    used_ = filled_ = 0;
  }

  // Where the next byte comes from, counted from the start of the source.
  std::uint64_t Offset() const { return start_ + used_; }

 private:
  ErrorCode Refill() {
    const std::uint64_t at = Offset();
    if (at != sourceAt_ && !source_.SeekTo(at)) return errReadInput;
    sourceAt_ = at;
    const std::int32_t got = source_.Read(buffer_, sizeof buffer_);
    if (got < 0) return errReadInput;
    if (got == 0) return errBadWav;
    start_ = at;
    used_ = 0;
    filled_ = static_cast<std::uint32_t>(got);
    sourceAt_ += filled_;
    return errNone;
  }

  HeadSource& source_;
  std::uint8_t buffer_[8 * 1024];
  std::uint64_t start_ = 0;     // the offset of buffer_[0]
  std::uint32_t used_ = 0;      // bytes of the buffer taken or skipped
  std::uint32_t filled_ = 0;    // bytes in the buffer
  std::uint64_t sourceAt_ = 0;  // where the source's next read starts
};

ErrorCode ReadChunkHeader(HeadReader& reader, ChunkHeader& chunk) {
  std::uint8_t bytes[8];
  if (ErrorCode code = reader.Take(bytes, sizeof bytes); code != errNone) return code;
  std::memcpy(chunk.id, bytes, 4);
  chunk.size = Le32(bytes + 4);
  return errNone;
}

// Reads the body of a "fmt " chunk and checks it.
ErrorCode ReadFormatChunk(HeadReader& reader, const ChunkHeader& chunk, WavFormatBlock& format) {
  if (chunk.size < kFormatBlockBytes) return errBadWav;
  std::uint8_t b[kFormatBlockBytes];
  if (ErrorCode code = reader.Take(b, sizeof b); code != errNone) return code;
  // Format tag, channels, sample rate, bytes per second, block alignment
  // and bits per sample.
  format = WavFormatBlock{Le16(b), Le16(b + 2), Le32(b + 4), Le16(b + 14)};
  std::uint32_t consumed = kFormatBlockBytes;
  if (format.formatTag == kFormatExtensible) {
    if (chunk.size < kFormatBlockBytes + kExtensionBytes) return errBadWav;
    std::uint8_t extension[kExtensionBytes];
    if (ErrorCode code = reader.Take(extension, sizeof extension); code != errNone) return code;
    consumed += kExtensionBytes;
    if (std::memcmp(extension + 8, kPcmSubFormat, sizeof kPcmSubFormat) != 0) return errBadWav;
  } else if (format.formatTag != kFormatPcm) {
    return errBadWav;
  }
  if (format.channels != 1 || format.bitsPerSample != 16 || format.sampleRate == 0) {
    return errBadWav;
  }
  reader.Skip(chunk.PaddedSize() - consumed);
  return errNone;
}

// The head of the "data" chunk has been taken: the samples start at
// `dataStart`, and as many of those it announces as are really there count.
ErrorCode MeasureSamples(HeadSource& source, std::uint64_t dataStart, const ChunkHeader& data,
                         WavHead& head) {
  const std::int64_t size = source.Size();
  if (size < 0) return errReadInput;
  const std::uint64_t there = static_cast<std::uint64_t>(size) > dataStart
                                  ? static_cast<std::uint64_t>(size) - dataStart
                                  : 0;
  head.dataStart = dataStart;
  head.dataSize = data.size == kSizeUnknown || data.size > there ? there : data.size;
  return errNone;
}

}  // namespace

ErrorCode ReadWavHead(HeadSource& source, WavHead& head) {
  HeadReader reader(source);
  // The file is one RIFF chunk whose body starts with the form type. Its
  // size is not used: recorders often leave it wrong.
  ChunkHeader riff;
  if (ErrorCode code = ReadChunkHeader(reader, riff); code != errNone) return code;
  std::uint8_t formType[4];
  if (ErrorCode code = reader.Take(formType, sizeof formType); code != errNone) return code;
  if (!IdIs(riff.id, "RIFF") || !IdIs(formType, "WAVE")) return errBadWav;

  bool haveFormat = false;
  WavFormatBlock format{};
  for (;;) {
    ChunkHeader chunk;
    if (ErrorCode code = ReadChunkHeader(reader, chunk); code != errNone) return code;
    if (IdIs(chunk.id, "fmt ") && !haveFormat) {
      if (ErrorCode code = ReadFormatChunk(reader, chunk, format); code != errNone) return code;
      haveFormat = true;
    } else if (IdIs(chunk.id, "data")) {
      if (!haveFormat) return errBadWav;
      head.sampleRate = format.sampleRate;
      return MeasureSamples(source, reader.Offset(), chunk, head);
    } else {
      reader.Skip(chunk.PaddedSize());
    }
  }
}

}  // namespace bronta
