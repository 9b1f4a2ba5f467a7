// bronta: converts a 16-bit mono PCM WAV file into a WSS sound file for
// Operation Flashpoint, beside it.

#include "app/ConversionRun.h"
#include "app/Messages.h"
#include "convert/ErrorCodes.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  platform::StartProcess(argc, argv);
  if (platform::ArgumentCount() == 0) bronta::ShowUsage();
  // Later arguments are ignored, and there are no options: "-h" is a file.
  const int code = bronta::ConvertWavToWss(platform::FirstArgument());
  if (code == bronta::errNone) platform::EndProcess(0);
  bronta::ReportError(code);
}
