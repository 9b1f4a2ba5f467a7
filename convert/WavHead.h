// Reading the head of a RIFF/WAVE file up to the first sample, and the check
// that it holds what bronta converts: PCM, 16 bits, one channel.
#pragma once

#include <cstdint>

#include "convert/ErrorCodes.h"

namespace bronta {

// Where the head is read from: a file in the program, memory in tests.
class HeadSource {
 public:
  virtual ~HeadSource() = default;
  // Up to `count` bytes from the current offset on; the number read (0 at
  // the end) or -1 on failure.
  virtual std::int32_t Read(void* buffer, std::uint32_t count) = 0;
  // Moves to `offset` from the start, possibly past the end; false on
  // failure.
  virtual bool SeekTo(std::uint64_t offset) = 0;
  // The size of the whole source in bytes, or -1 on failure.
  virtual std::int64_t Size() = 0;
};

// What the conversion needs from the head.
struct WavHead {
  std::uint32_t sampleRate = 0;
  std::uint64_t dataStart = 0;  // the offset of the first sample
  // Sample bytes announced by the "data" chunk, limited to those that the
  // source really holds after the chunk's head; all of those when the size
  // is 0xFFFFFFFF, as a recorder leaves it that never came back to fill it
  // in, however many there are.
  std::uint64_t dataSize = 0;
};

// Walks the chunks from the start of `source` to the head of the first "data"
// chunk after the first "fmt " chunk, skipping every other chunk. The head
// is read through one buffer of a few kilobytes, so that many small chunks
// cost few reads; the source's position afterwards is unspecified. Returns errNone,
// errBadWav (not a RIFF/WAVE file, the chunks end early or out of order, or
// not 16-bit mono PCM) or errReadInput (a read failed).
ErrorCode ReadWavHead(HeadSource& source, WavHead& head);

}  // namespace bronta
