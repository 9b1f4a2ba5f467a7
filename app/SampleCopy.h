// Copying the samples from the input to the output, unchanged.
#pragma once

#include <cstdint>

#include "convert/ErrorCodes.h"
#include "platform/Platform.h"

namespace bronta {

// Copies `byteCount` bytes from offset `start` of `in` to the current
// position of `out`. Returns errNone, errReadInput (a seek or read failed,
// or the input ended before `byteCount` bytes) or errWriteOutput.
ErrorCode CopySamples(platform::FileHandle in, platform::FileHandle out, std::uint64_t start,
                      std::uint64_t byteCount);

}  // namespace bronta
