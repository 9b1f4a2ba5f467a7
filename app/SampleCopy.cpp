#include "app/SampleCopy.h"

namespace bronta {

// One fixed buffer, so memory use does not grow with the file; of the sizes
// and of copy_file_range, the fastest measured (bench/README.md).
ErrorCode CopySamples(platform::FileHandle in, platform::FileHandle out, std::uint64_t start,
                      std::uint64_t byteCount) {
  static std::uint8_t buffer[256 * 1024];
  if (!platform::SeekTo(in, start)) return errReadInput;
  for (std::uint64_t done = 0; done < byteCount;) {
    const std::uint64_t rest = byteCount - done;
    const auto want = static_cast<std::uint32_t>(rest < sizeof buffer ? rest : sizeof buffer);
    const std::int32_t got = platform::ReadChunk(in, buffer, want);
    // The head promised these bytes; a file that shrank under us is a
    // failed read, not a shorter sound.
    if (got <= 0) return errReadInput;
    if (platform::WriteChunk(out, buffer, static_cast<std::uint32_t>(got)) < 0) {
      return errWriteOutput;
    }
    done += static_cast<std::uint64_t>(got);
  }
  return errNone;
}

}  // namespace bronta
