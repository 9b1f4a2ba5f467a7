// What the program prints, as the tests expect it: the texts once, and the
// line end of the build under test.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>

#include "support/Process.h"

namespace testing_support {

// The message of each exit status; 0 prints nothing.
inline const std::map<int, const char*> kMessageOfStatus = {
    {1, "Error while opening input file."},
    {2, "Error while creating output file."},
    {5, "Error while reading intput file."},  // sic
    {6, "Error while writing output file."},
    {9, "Bad WAV format."}};

inline const std::initializer_list<const char*> kBanner = {
    "Bronta 1.0", "for Operation Flashpoint v1.10 and above", "example: BRONTA [WAV_File]",
    "WAV file must be \"PCM, signed 16 bit, mono\""};

// The lines as the program under test prints them: ended by CR LF where
// BRONTA_LINE_END is set ("crlf", for a Windows build), else by LF.
inline std::string Lines(std::initializer_list<const char*> lines) {
  const char* lineEnd = std::getenv("BRONTA_LINE_END");
  std::string text;
  for (const char* line : lines) text += line + std::string(lineEnd ? "\r\n" : "\n");
  return text;
}

// What a run that ends with `status` prints.
inline std::string OutputOfStatus(int status) {
  const auto it = kMessageOfStatus.find(status);
  return it == kMessageOfStatus.end() ? "" : Lines({it->second});
}

}  // namespace testing_support
