#include "app/Messages.h"

#include "convert/ErrorCodes.h"
#include "platform/Platform.h"

namespace bronta {

namespace {

// The message line of an error code, or nullptr for a code without one.
const char* MessageFor(int code) {
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

void ReportError(int code) {
  const char* message = MessageFor(code);
  if (message == nullptr) platform::EndProcess(1);
  platform::WriteConsoleLine(message);
  platform::EndProcess(code);
}

void ShowUsage() {
  platform::WriteConsoleLine("Bronta 1.0");
  platform::WriteConsoleLine("for Operation Flashpoint v1.10 and above");
  platform::WriteConsoleLine("example: BRONTA [WAV_File]");
  platform::WriteConsoleLine("WAV file must be \"PCM, signed 16 bit, mono\"");
  platform::EndProcess(0);
}

}  // namespace bronta
