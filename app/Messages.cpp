#include "app/Messages.h"

#include <utility>

#include "platform/Platform.h"

namespace bronta {

void ReportError(ErrorCode code) {
  static const std::pair<ErrorCode, const char*> kMessages[] = {
      {errOpenInput, "Error while opening input file."},
      {errCreateOutput, "Error while creating output file."},
      {errReadInput, "Error while reading intput file."},  // sic: scripts match this text
      {errWriteOutput, "Error while writing output file."},
      {errBadWav, "Bad WAV format."},
  };
  for (const auto& [known, message] : kMessages) {
    if (known == code) platform::WriteConsoleLine(message);
  }
  platform::EndProcess(static_cast<int>(code));
}

void EndConverted(platform::Kept) {
  platform::EndProcess(0);
}

void ShowUsage() {
  // The banner's fixed text: its "1.0" does not follow the project's version.
  platform::WriteConsoleLine("Bronta 1.0");
  platform::WriteConsoleLine("for Operation Flashpoint v1.10 and above");
  platform::WriteConsoleLine("example: BRONTA [WAV_File]");
  platform::WriteConsoleLine("WAV file must be \"PCM, signed 16 bit, mono\"");
  platform::EndProcess(0);
}

}  // namespace bronta
