// Reading the head of a RIFF/WAVE file up to the first sample, and the check
// that it holds what bronta converts: PCM, 16 bits, one channel.
#pragma once

#include <cstdint>

namespace bronta {

// Where the head is read from: a file in the program, memory in tests.
class HeadSource {
 public:
  virtual ~HeadSource() = default;
  // Up to `count` bytes; the number read (0 at the end) or -1 on failure.
  virtual std::int32_t Read(void* buffer, std::uint32_t count) = 0;
  // Moves `count` bytes on, possibly past the end; false on failure.
  virtual bool Skip(std::uint64_t count) = 0;
  // Bytes from the current position to the end, or -1 on failure.
  virtual std::int64_t Remaining() = 0;
};

// What the conversion needs from the head.
struct WavHead {
  std::uint32_t sampleRate = 0;
  // Sample bytes announced by the "data" chunk, limited to those that the
  // source really holds after the chunk's head.
  std::uint64_t dataSize = 0;
};

// Walks the chunks from the start of `source` to the head of the first "data"
// chunk after the first "fmt " chunk, skipping every other chunk, and leaves
// `source` at the first sample byte. Returns errNone, errBadWav (not a
// RIFF/WAVE file, the chunks end early or out of order, or not 16-bit mono
// PCM) or errReadInput (a read failed).
int ReadWavHead(HeadSource& source, WavHead& head);

}  // namespace bronta
