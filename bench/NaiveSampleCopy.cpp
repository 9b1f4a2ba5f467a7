// The benchmark's slow reference: bronta with one 2-byte read and one 2-byte
// write per sample in place of its buffered copy, for scale.

#include "app/SampleCopy.h"

namespace bronta {

ErrorCode CopySamples(platform::FileHandle in, platform::FileHandle out, std::uint64_t start,
                      std::uint64_t byteCount) {
  if (!platform::SeekTo(in, start)) return errReadInput;
  std::uint8_t sample[2];
  for (std::uint64_t done = 0; done < byteCount; done += 2) {
    if (platform::ReadChunk(in, sample, 2) != 2) return errReadInput;
    if (platform::WriteChunk(out, sample, 2) < 0) return errWriteOutput;
  }
  return errNone;
}

}  // namespace bronta
