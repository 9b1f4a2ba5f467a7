#include "app/ConversionRun.h"

#include <cstdint>

#include "app/OutputName.h"
#include "convert/ErrorCodes.h"
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
  bool Skip(std::uint64_t count) override { return platform::SkipForward(file_, count); }
  std::int64_t Remaining() override { return platform::RemainingBytes(file_); }

 private:
  FileHandle file_;
};

#ifdef BRONTA_NAIVE_COPY
// The slow reference for the benchmark: one 2-byte read and write per sample.
int CopySamples(FileHandle in, FileHandle out, std::uint64_t byteCount) {
  std::uint8_t sample[2];
  for (std::uint64_t done = 0; done < byteCount; done += 2) {
    const std::int32_t got = platform::ReadChunk(in, sample, 2);
    if (got != 2) return errReadInput;
    if (platform::WriteChunk(out, sample, 2) < 0) return errWriteOutput;
  }
  return errNone;
}
#else
// Copies `byteCount` sample bytes through a fixed buffer, so memory use does
// not grow with the file. The samples move from offset 44 in the input to
// 26 in the output, so no page lands on a page and a copy inside the kernel
// (copy_file_range) gains nothing: it measured slower than this on Linux.
int CopySamples(FileHandle in, FileHandle out, std::uint64_t byteCount) {
  static std::uint8_t buffer[256 * 1024];  // the fastest size measured
  for (std::uint64_t done = 0; done < byteCount;) {
    const std::uint64_t rest = byteCount - done;
    const auto want = static_cast<std::uint32_t>(rest < sizeof buffer ? rest : sizeof buffer);
    const std::int32_t got = platform::ReadChunk(in, buffer, want);
    // The head promised these bytes; a file that shrank under us is a
    // failed read, not a shorter sound.
    if (got <= 0) return errReadInput;
    if (platform::WriteChunk(out, buffer, static_cast<std::uint32_t>(got)) < 0) {
      return errWriteOutput;
    }
    done += static_cast<std::uint64_t>(got);
  }
  return errNone;
}
#endif

// Everything that goes into the output: the checked head, the WSS header and
// the samples.
int WriteOutput(FileHandle in, FileHandle out) {
  FileHeadSource source(in);
  WavHead head;
  if (int code = ReadWavHead(source, head)) return code;
  const auto header = WssHeaderBytes(BuildWssHeader(head.sampleRate, head.dataSize));
  if (platform::WriteChunk(out, header.data(), header.size()) < 0) return errWriteOutput;
  // An odd last byte is half a sample and is left out.
  return CopySamples(in, out, head.dataSize & ~std::uint64_t{1});
}

// Lead bytes are 0x80 and above in every code page, so a name without such
// a byte needs no code page, and a plain name costs no locale to load.
const platform::LeadByteSet& LeadBytesFor(const std::string& name) {
  static const platform::LeadByteSet none;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return platform::LeadByteRanges();
  }
  return none;
}

}  // namespace

int ConvertWavToWss(const std::string& inputName) {
  const FileHandle in = platform::OpenInputFile(inputName);
  if (in == platform::kInvalidHandle) return errOpenInput;

  const std::string outputName = MakeOutputName(inputName, LeadBytesFor(inputName));
  platform::TempFile out;
  if (!platform::OutputNameUsable(outputName, in) || !out.Create(outputName)) {
    platform::CloseFileHandle(in);
    return errCreateOutput;
  }

  const int code = WriteOutput(in, out.handle());
  platform::CloseFileHandle(in);
  if (code != errNone) {
    out.Discard();
    return code;
  }
  return out.Keep() ? errNone : errWriteOutput;
}

}  // namespace bronta
