// The output name rule with arbitrary lead-byte sets and names: the folder
// and the input's name make up the whole name, and the output's name is the
// input's up to the dot it replaced, or all of it, and ".wss".
#include <cstdlib>
#include <string>

#include "app/OutputName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kSetBytes = 32;  // one bit a byte value
  if (size < kSetBytes) return 0;
  platform::LeadByteSet leadBytes;
  bool doubleByte = false;
  for (int b = 0x80; b < 256; ++b) {
    leadBytes.lead[b] = (data[b / 8] >> (b % 8)) & 1;
    doubleByte |= leadBytes.lead[b];
  }
  const std::string name(reinterpret_cast<const char*>(data + kSetBytes), size - kSetBytes);
  const bronta::OutputName output = bronta::MakeOutputName(name, leadBytes);
  if (output.folder + output.inputFile != name) std::abort();
  const std::string& file = output.inputFile;
  const std::string& out = output.outputFile;
  if (out.size() < 4 || out.compare(out.size() - 4, 4, ".wss") != 0) std::abort();
  const std::size_t stem = out.size() - 4;
  if (stem > file.size() || file.compare(0, stem, out, 0, stem) != 0) std::abort();
  // Either the whole name was kept, or it was cut at a dot.
  if (stem < file.size() && file[stem] != '.') std::abort();
  // Without lead bytes nothing after that dot ends the extension search,
  // and nothing in the file's name is a folder separator.
  for (std::size_t i = 0; !doubleByte && i < file.size(); ++i) {
    const auto c = static_cast<unsigned char>(file[i]);
    const bool delimiter = c == '.' || c == '\\' || c == ':' || platform::IsFolderSeparator(c);
    if (platform::IsFolderSeparator(c) || (i > stem && delimiter)) {
      std::abort();
    }
  }
  return 0;
}
