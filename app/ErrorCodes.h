// The failures that bronta reports. Each code names one message line and is
// also the exit status of a run that ends with it; the gaps stay unused.
#pragma once

namespace bronta {

enum ErrorCode : int {
  errNone = 0,
  errOpenInput = 1,
  errCreateOutput = 2,
  errReadInput = 5,
  errWriteOutput = 6,
  errBadWav = 9,
};

}  // namespace bronta
