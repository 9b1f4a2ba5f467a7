#include "app/Messages.h"

#include "platform/Platform.h"

namespace bronta {

namespace {

const char* MessageFor(ErrorCode code) {
  switch (code) {
    case errOpenInput:
      return "Error while opening input file.";
    case errCreateOutput:
      return "Error while creating output file.";
    case errReadInput:
      return "Error while reading intput file.";  // sic: scripts match this text
    case errWriteOutput:
      return "Error while writing output file.";
    case errBadWav:
      return "Bad WAV format.";
    default:
      return nullptr;
  }
}

}  // namespace

void ReportError(ErrorCode code) {
  if (const char* message = MessageFor(code)) platform::WriteConsoleLine(message);
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
