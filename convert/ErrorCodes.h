// The failures that bronta reports. The format code returns the read and
// format errors; the conversion run adds those of opening, creating and
// writing files. Each code names one message line and is also the exit
// status of a run that ends with it; the gaps in the numbering stay unused.
#pragma once

namespace bronta {

enum class ErrorCode {
  errNone = 0,
  errOpenInput = 1,
  errCreateOutput = 2,
  errReadInput = 5,
  errWriteOutput = 6,
  errBadWav = 9,
};
using enum ErrorCode;

}  // namespace bronta
