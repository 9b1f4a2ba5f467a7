#include "app/ConversionRun.h"

#include <cstdint>

#include "app/OutputName.h"
#include "app/SampleCopy.h"
#include "convert/WavHead.h"
#include "convert/WssHeader.h"
#include "platform/Platform.h"

namespace bronta {

namespace {

using platform::FileHandle;

class FileHeadSource final : public HeadSource {
 public:
  explicit FileHeadSource(FileHandle file) : file_(file) {}
  std::int32_t Read(void* buffer, std::uint32_t count) override {
    return platform::ReadChunk(file_, buffer, count);
  }
  bool SeekTo(std::uint64_t offset) override { return platform::SeekTo(file_, offset); }
  std::int64_t Size() override { return platform::FileSize(file_); }

 private:
  FileHandle file_;
};

// Everything that goes into the output: the checked head, the WSS header and
// the samples.
ErrorCode WriteOutput(FileHandle in, FileHandle out) {
  FileHeadSource source(in);
  WavHead head;
  if (ErrorCode code = ReadWavHead(source, head); code != errNone) return code;
  const WssHeader header = BuildWssHeader(head.sampleRate, head.dataSize);
  if (platform::WriteChunk(out, header.data(), header.size()) < 0) return errWriteOutput;
  // An odd last byte is half a sample: left out of the copy, though the
  // header's size word counts it, as the WSS files made so far have it.
  return CopySamples(in, out, head.dataStart, head.dataSize & ~std::uint64_t{1});
}

// Lead bytes are 0x80 and above in every code page, so a name without such
// a byte needs no code page, and a plain name costs no locale to load.
platform::LeadByteSet LeadBytesFor(const std::string& name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return platform::LeadByteRanges();
  }
  return {};
}

// Whether the output's name is the input's in a folder that folds case
// (FAT, exFAT, often through FUSE, which may give each spelling an inode
// number of its own, so that MayReplace cannot tell): there the temporary
// file is found under its name in upper case as well.
bool NamesTheInput(const OutputName& name, const platform::Folder& folder,
                   const platform::TempFile& out) {
  return name.differInCaseAlone && platform::FileExists(folder, AsciiUpperCase(out.name()));
}

}  // namespace

std::variant<ErrorCode, platform::Kept> ConvertWavToWss(const std::string& inputName) {
  const OutputName name = MakeOutputName(inputName, LeadBytesFor(inputName));
  // The input and the output are found in one folder, held from here on.
  platform::Folder folder;
  if (!platform::OpenFolder(name.folder, folder)) return errOpenInput;
  const FileHandle in = platform::OpenInputFile(folder, name.inputFile);
  if (in == platform::kInvalidHandle) return errOpenInput;
  platform::TempFile out;
  ErrorCode code = errCreateOutput;
  if (out.Create(folder, name.outputFile, in) && !NamesTheInput(name, folder, out)) {
    code = WriteOutput(in, out.handle());
  }
  platform::CloseFileHandle(in);
  if (code == errNone && !out.EndWrites()) code = errWriteOutput;
  if (code != errNone) return code;  // the temporary file goes with `out`
  if (std::optional<platform::Kept> kept = out.Keep()) return *kept;
  return errCreateOutput;  // rename refuses what may not be replaced (a sticky folder, append-only)
}

}  // namespace bronta
