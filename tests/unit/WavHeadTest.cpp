#include "convert/WavHead.h"

#include <gtest/gtest.h>

#include "convert/ErrorCodes.h"
#include "support/MemorySource.h"
#include "support/WavBuilder.h"

namespace {

using namespace testing_support;
using bronta::errBadWav;
using bronta::errNone;
using bronta::ErrorCode;
using bronta::errReadInput;

struct HeadCase {
  const char* what;
  Bytes file;
  ErrorCode code;
  std::uint32_t rate = 0;
  std::uint64_t dataSize = 0;
  std::uint64_t dataStart = 0;    // where the samples start
  std::uint64_t unheldBytes = 0;  // more bytes after those of `file`, as in a huge file
};

constexpr std::uint64_t k5GiB = std::uint64_t{5} << 30;

std::vector<HeadCase> Cases() {
  const Bytes fmt = Chunk("fmt ", PcmFormat(22050));
  const Bytes data = Chunk("data", Pattern(100));
  const Bytes list = Chunk("LIST", Bytes("INFOISFT\x05\0\0\0bronta", 17));
  Bytes otherGuid = kPcmGuid;
  otherGuid[15] ^= 1;  // PCM's but for its last byte
  return {
      {"canonical", CanonicalWav(22050, Pattern(100)), errNone, 22050, 100, 44},
      {"18-byte format chunk", Riff(Chunk("fmt ", PcmFormat(8000) + Le16(0)) + data), errNone, 8000,
       100, 46},
      {"LIST and fact before the data", Riff(fmt + list + Chunk("fact", Le32(50)) + data), errNone,
       22050, 100, 44 + list.size() + 12},
      {"odd unknown chunk with pad byte", Riff(Chunk("junk", "abc") + fmt + data), errNone, 22050,
       100, 56},
      {"second format chunk ignored", Riff(fmt + Chunk("fmt ", FormatBody(1, 2, 9, 8)) + data),
       errNone, 22050, 100, 68},
      {"extensible PCM", Riff(Chunk("fmt ", ExtensibleFormat(44100, kPcmGuid)) + data), errNone,
       44100, 100, 68},
      {"odd format chunk with pad byte", Riff(Chunk("fmt ", PcmFormat(8000) + "x") + data), errNone,
       8000, 100, 46},
      {"size limited to the bytes there", Riff(fmt) + ChunkHead("data", 1000) + Pattern(10),
       errNone, 22050, 10, 44},
      {"streamed size 0xFFFFFFFF", Riff(fmt) + ChunkHead("data", 0xFFFFFFFF) + Pattern(7), errNone,
       22050, 7, 44},
      {"empty data", Riff(fmt) + ChunkHead("data", 0), errNone, 22050, 0, 44},
      {"streamed size with 5 GiB behind it", Riff(fmt) + ChunkHead("data", 0xFFFFFFFF), errNone,
       22050, k5GiB, 44, k5GiB},
      {"announced size with 5 GiB behind it", Riff(fmt) + ChunkHead("data", 1000), errNone, 22050,
       1000, 44, k5GiB},
      {"chunks across several buffers",
       Riff(Chunk("LIST", Pattern(20001)) + Chunk("junk", Pattern(8150)) + fmt + data), errNone,
       22050, 100, 12 + 8 + 20002 + 8 + 8150 + 24 + 8},
      {"empty file", "", errBadWav},
      {"11 bytes", Bytes("RIFF\0\0\0\0WAV", 11), errBadWav},
      {"riff in lower case", "riff" + Le32(4) + "WAVE" + fmt + data, errBadWav},
      {"AVI form", "RIFF" + Le32(4) + "AVI " + fmt + data, errBadWav},
      {"only the RIFF head", Riff(""), errBadWav},
      {"no data chunk", Riff(fmt + list), errBadWav},
      {"data before fmt", Riff(data + fmt + data), errBadWav},
      // 14 bytes, followed by what would complete the block and a chunk.
      {"format chunk of 14 bytes",
       Riff(ChunkHead("fmt ", 14) + PcmFormat(8000) + "ab" + Le32(0) + data), errBadWav},
      {"truncated format block", Riff("") + ChunkHead("fmt ", 16) + PcmFormat(8000).substr(0, 9),
       errBadWav},
      {"truncated chunk head", Riff(fmt) + "dat", errBadWav},
      {"chunk skipped past the end", Riff(fmt) + ChunkHead("LIST", 0xFFFFFFF0) + data, errBadWav},
      // Its pad byte makes 4 GiB, and its body is not walked as chunks.
      {"odd chunk of 0xFFFFFFFF bytes", Riff(ChunkHead("LIST", 0xFFFFFFFF) + fmt + data),
       errBadWav},
      {"stereo", Riff(Chunk("fmt ", FormatBody(1, 2, 22050, 16)) + data), errBadWav},
      {"8-bit", Riff(Chunk("fmt ", FormatBody(1, 1, 22050, 8)) + data), errBadWav},
      {"IEEE float", Riff(Chunk("fmt ", FormatBody(3, 1, 22050, 16)) + data), errBadWav},
      {"rate 0", Riff(Chunk("fmt ", PcmFormat(0)) + data), errBadWav},
      {"extensible, not PCM", Riff(Chunk("fmt ", ExtensibleFormat(44100, otherGuid)) + data),
       errBadWav},
      {"extensible too short", Riff(Chunk("fmt ", FormatBody(0xFFFE, 1, 8000, 16)) + data),
       errBadWav},
      // 39 bytes, whose pad byte would complete the sub-format.
      {"extensible one byte short",
       Riff(ChunkHead("fmt ", 39) + ExtensibleFormat(8000, kPcmGuid) + data), errBadWav},
  };
}

TEST(ReadWavHead, WalksTheChunksToTheSamples) {
  for (const auto& c : Cases()) {
    MemorySource source(c.file, 0, c.unheldBytes);
    bronta::WavHead head;
    ASSERT_EQ(bronta::ReadWavHead(source, head), c.code) << c.what;
    if (c.code != errNone) continue;
    EXPECT_EQ(head.sampleRate, c.rate) << c.what;
    EXPECT_EQ(head.dataSize, c.dataSize) << c.what;
    EXPECT_EQ(head.dataStart, c.dataStart) << c.what;
  }
}

// Every call of the source, whichever it is, can fail: the read of the
// head, the seek over a long chunk, the size, the seek back to the samples.
TEST(ReadWavHead, AFailedCallAnywhereIsAReadError) {
  const Bytes file =
      Riff(Chunk("LIST", Pattern(30000)) + Chunk("fmt ", PcmFormat(8000)) + Chunk("data", "abcd"));
  MemorySource clean(file);
  bronta::WavHead head;
  ASSERT_EQ(bronta::ReadWavHead(clean, head), errNone);
  ASSERT_GE(clean.calls(), 4);
  for (int failing = 1; failing <= clean.calls(); ++failing) {
    MemorySource source(file, failing);
    EXPECT_EQ(bronta::ReadWavHead(source, head), errReadInput) << failing;
  }
}

// The calls of the source grow with the head's bytes, not with its number
// of chunks: ten thousand empty chunks cost far fewer than ten thousand.
TEST(ReadWavHead, ManySmallChunksCostFewReads) {
  Bytes chunks;
  for (int i = 0; i < 10000; ++i) chunks += ChunkHead("junk", 0);
  const Bytes file = Riff(chunks + Chunk("fmt ", PcmFormat(8000)) + Chunk("data", "abcd"));
  MemorySource source(file);
  bronta::WavHead head;
  ASSERT_EQ(bronta::ReadWavHead(source, head), errNone);
  EXPECT_EQ(head.dataSize, 4u);
  EXPECT_LT(source.calls(), 100);
}

}  // namespace
