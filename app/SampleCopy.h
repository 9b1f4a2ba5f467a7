// Copying the samples from the input to the output, unchanged.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace bronta {

// Copies `byteCount` bytes from the current position of `in` to `out`.
// Returns errNone, errReadInput (a read failed, or the input ended before
// `byteCount` bytes) or errWriteOutput.
int CopySamples(platform::FileHandle in, platform::FileHandle out, std::uint64_t byteCount);

}  // namespace bronta
