// Win32 implementation of the platform layer: the console program's home.
// Only the Windows API is used here, no C runtime I/O, so the program's
// output and files behave exactly as the system's own calls make them.

#include "platform/Platform.h"

#include <windows.h>

#include <vector>

#include "platform/CommandLine.h"

namespace platform {

namespace {

HANDLE Win(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle Ours(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<FileHandle>(handle);
}

const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = SplitCommandLine(GetCommandLineA());
  return words;
}

// Standard output: opened on the first line, written in 128-byte pieces;
// after every line when it is a console, so each line shows at once.
class ConsoleChannel {
 public:
  void Line(const std::string& text) {
    if (!Open()) return;
    for (char c : text) Put(c);
    Put('\r');
    Put('\n');
    if (isConsole_) Flush();
  }
  void Flush() {
    if (used_ == 0) return;
    DWORD written = 0;
    WriteFile(handle_, buffer_, used_, &written, nullptr);  // nowhere to report a failure
    used_ = 0;
  }

 private:
  bool Open() {
    if (!opened_) {
      opened_ = true;
      handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
      const DWORD type =
          handle_ && handle_ != INVALID_HANDLE_VALUE ? GetFileType(handle_) : FILE_TYPE_UNKNOWN;
      usable_ = type != FILE_TYPE_UNKNOWN;
      isConsole_ = type == FILE_TYPE_CHAR;
    }
    return usable_;
  }
  void Put(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
  }

  HANDLE handle_ = nullptr;
  bool opened_ = false;
  bool usable_ = false;
  bool isConsole_ = false;
  char buffer_[128];
  DWORD used_ = 0;
};

ConsoleChannel g_console;

}  // namespace

void StartProcess(int, char**) {
  // A missing floppy or CD must fail the open, not stop the run with a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

FileHandle OpenInputFile(const std::string& name) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Devices (CON, NUL, COM1, ...) are not sound files.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kInvalidHandle;
  }
  return Ours(file);
}

bool OutputNameUsable(const std::string& name, FileHandle) {
  // An exclusive open of an existing output fails when it is a directory, a
  // read-only file, or open anywhere else, the input handle included, so
  // hard and symbolic links to the input are caught as well.
  HANDLE probe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  CloseHandle(probe);
  return true;
}

FileHandle CreateTempBeside(const std::string& finalName, std::string& tempName) {
  const std::string stem = finalName + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName = stem + std::to_string(attempt);
    HANDLE file = CreateFileA(tempName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return Ours(file);
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  tempName.clear();
  return kInvalidHandle;
}

bool ReplaceWithTemp(const std::string& tempName, const std::string& finalName) {
  return MoveFileExA(tempName.c_str(), finalName.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFile(const std::string& name) {
  DeleteFileA(name.c_str());
}

std::int32_t ReadChunk(FileHandle file, void* buffer, std::uint32_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    DWORD got = 0;
    if (!ReadFile(Win(file), bytes + done, count - done, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t WriteChunk(FileHandle file, const void* buffer, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    DWORD put = 0;
    if (!WriteFile(Win(file), bytes + done, count - done, &put, nullptr) || put == 0) return -1;
    done += put;
  }
  return static_cast<std::int32_t>(done);
}

bool SkipForward(FileHandle file, std::uint64_t count) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(count);
  return SetFilePointerEx(Win(file), distance, nullptr, FILE_CURRENT) != 0;
}

std::int64_t RemainingBytes(FileHandle file) {
  LARGE_INTEGER size, position, zero;
  zero.QuadPart = 0;
  if (!GetFileSizeEx(Win(file), &size) ||
      !SetFilePointerEx(Win(file), zero, &position, FILE_CURRENT)) {
    return -1;
  }
  return size.QuadPart > position.QuadPart ? size.QuadPart - position.QuadPart : 0;
}

std::uint64_t KernelCopy(FileHandle, FileHandle, std::uint64_t) {
  return 0;  // large ReadFile/WriteFile blocks do the copy
}

bool CloseFileHandle(FileHandle file) {
  return CloseHandle(Win(file)) != 0;
}

void WriteConsoleLine(const std::string& text) {
  g_console.Line(text);
}

int ArgumentCount() {
  return CountArguments(Words());
}

std::string FirstArgument() {
  return FirstArgumentOf(Words());
}

const LeadByteSet& LeadByteRanges() {
  static const LeadByteSet set = [] {
    const bool doubleByte = GetSystemMetrics(SM_DBCSENABLED) != 0;
    CPINFO info{};
    if (!doubleByte || !GetCPInfo(CP_ACP, &info))
      return LeadBytesFromRanges(doubleByte, nullptr, 0);
    return LeadBytesFromRanges(true, info.LeadByte, sizeof info.LeadByte);
  }();
  return set;
}

void EndProcess(int status) {
  g_console.Flush();
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace platform
