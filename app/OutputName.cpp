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

}  // namespace

OutputName MakeOutputName(const std::string& inputName, const platform::LeadByteSet& leadBytes) {
  // One scan backwards: the first delimiter ends the extension search, the
  // first folder separator the whole scan.
  std::size_t stemLength = inputName.size();
  std::size_t folderLength = 0;
  bool searching = true;
  for (std::size_t i = inputName.size(); i > 0; --i) {
    const auto c = static_cast<unsigned char>(inputName[i - 1]);
    if (!platform::EndsExtensionSearch(c)) continue;
    if (IsTrailByte(inputName, i - 1, leadBytes)) continue;  // its lead byte is no delimiter
    if (searching && c == '.') stemLength = i - 1;
    searching = false;
    if (platform::IsFolderSeparator(c)) {
      folderLength = i;
      break;
    }
  }
  return OutputName{inputName.substr(0, folderLength), inputName.substr(folderLength),
                    inputName.substr(folderLength, stemLength - folderLength) + ".wss"};
}

}  // namespace bronta
