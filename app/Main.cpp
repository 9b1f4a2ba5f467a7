// bronta: converts a 16-bit mono PCM WAV file into a WSS sound file for
// Operation Flashpoint, beside it.

#include "app/ConversionRun.h"
#include "app/Messages.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = platform::SetUpProcess(argc, argv);
  if (arguments.empty()) bronta::ShowUsage();
  // Later arguments are ignored, and there are no options: "-h" is a file.
  const auto outcome = bronta::ConvertWavToWss(arguments.front());
  if (const auto* kept = std::get_if<platform::Kept>(&outcome)) bronta::EndConverted(*kept);
  bronta::ReportError(std::get<bronta::ErrorCode>(outcome));
}
