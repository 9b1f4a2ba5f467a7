#include "app/OutputName.h"

#include <cstddef>

namespace bronta {

namespace {

// Whether name[i] is the second byte of a double-byte character: the run of
// lead bytes right before it has odd length.
bool IsTrailByte(const std::string& name, std::size_t i, const platform::LeadByteSet& leadBytes) {
  std::size_t run = 0;
  while (run < i && leadBytes.IsLead(static_cast<unsigned char>(name[i - run - 1]))) ++run;
  return run % 2 == 1;
}

// On Linux too "\" and ":" end the search, as on Windows, though there they
// are bytes of a file's name.
bool EndsExtensionSearch(unsigned char c) {
  return c == '.' || c == '\\' || c == ':' || platform::IsFolderSeparator(c);
}

}  // namespace

OutputName MakeOutputName(const std::string& inputName, const platform::LeadByteSet& leadBytes) {
  // One scan backwards: the first delimiter ends the extension search, the
  // first folder separator the whole scan.
  std::size_t stemLength = inputName.size();
  std::size_t folderLength = 0;
  bool searching = true;
  for (std::size_t i = inputName.size(); i > 0; --i) {
    const auto c = static_cast<unsigned char>(inputName[i - 1]);
    if (!EndsExtensionSearch(c)) continue;
    if (IsTrailByte(inputName, i - 1, leadBytes)) continue;  // its lead byte is no delimiter
    if (searching && c == '.') stemLength = i - 1;
    searching = false;
    if (platform::IsFolderSeparator(c)) {
      folderLength = i;
      break;
    }
  }
  OutputName name{inputName.substr(0, folderLength), inputName.substr(folderLength),
                  inputName.substr(folderLength, stemLength - folderLength) + ".wss"};
  name.differInCaseAlone = name.inputFile != name.outputFile &&
                           AsciiUpperCase(name.inputFile) == AsciiUpperCase(name.outputFile);
  return name;
}

std::string AsciiUpperCase(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

}  // namespace bronta
