// The WAV head reader on arbitrary bytes: it must not crash, and what it
// reports must lie within the input.
#include <cstdlib>

#include "convert/ErrorCodes.h"
#include "convert/WavHead.h"
#include "support/MemorySource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  testing_support::MemorySource source({reinterpret_cast<const char*>(data), size});
  bronta::WavHead head;
  const bronta::ErrorCode code = bronta::ReadWavHead(source, head);
  if (code != bronta::errNone && code != bronta::errBadWav) std::abort();  // memory never fails
  if (code == bronta::errNone) {
    // The samples start inside the input and are all there.
    if (head.dataStart > size) std::abort();
    if (head.dataSize > size - head.dataStart) std::abort();
    if (head.sampleRate == 0) std::abort();
  }
  return 0;
}
