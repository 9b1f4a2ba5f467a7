// Win32 implementation of the platform layer: the console program's home.
// Only the Windows API is used here, no C runtime I/O, so the program's
// output and files behave exactly as the system's own calls make them.

#include "platform/Platform.h"

#include <windows.h>

#include <vector>

#include "platform/CommandLine.h"
#include "platform/FaultInjection.h"
#include "platform/Native.h"

namespace platform {

namespace {

HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle FromHandle(HANDLE handle) {
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

// Runs `attempt`, which gives ERROR_SUCCESS or the error it met, again for
// up to a second while the error is one of `busy`: someone else has the file
// open for a moment (another run finishing the same output, a virus
// scanner), and such a moment passes. Returns the last result.
template <typename Attempt>
DWORD RetryWhileBusy(Attempt attempt, DWORD busy, DWORD alsoBusy = ERROR_SUCCESS) {
  for (int tries = 1;; ++tries) {
    const DWORD error = attempt();
    if (error == ERROR_SUCCESS || (error != busy && error != alsoBusy) || tries == 20) {
      return error;
    }
    Sleep(50);
  }
}

// Whether `name` is the file open as `file`, by whatever path or link. An
// open for no access at all sees the file even while others hold it
// exclusively.
bool SameFile(const std::string& name, HANDLE file) {
  HANDLE other =
      CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool same = GetFileInformationByHandle(file, &a) && GetFileInformationByHandle(other, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

// Ctrl+C, Ctrl+Break, a closed console window, a logoff or a shutdown: the
// temporary output goes and the process ends with the status that Windows
// gives an interrupted program, so that a script sees that the run failed.
// Runs on a thread of its own while the conversion may still be writing; the
// file is created shareable for deletion, so it goes as the process ends.
BOOL WINAPI RemovePendingTempOnEvent(DWORD) {
  native::RemovePendingTemp();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void StartProcess(int, char**) {
  // A missing floppy or CD must fail the open, not stop the run with a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(RemovePendingTempOnEvent, TRUE);
}

FileHandle OpenInputFile(const std::string& name) {
  if (InjectFault("open")) return kInvalidHandle;
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Devices (CON, NUL, COM1, ...) are not sound files.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kInvalidHandle;
  }
  return FromHandle(file);
}

bool OutputNameUsable(const std::string& name, FileHandle input) {
  if (InjectFault("check")) return false;
  if (SameFile(name, ToHandle(input))) return false;
  // An exclusive open of an existing output fails when it is a directory, a
  // read-only file, or open in another program; another run that finishes
  // the same output holds it only for a moment.
  const DWORD error = RetryWhileBusy(
      [&] {
        HANDLE probe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return GetLastError();
        CloseHandle(probe);
        return DWORD{ERROR_SUCCESS};
      },
      ERROR_SHARING_VIOLATION);
  return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}

bool SkipForward(FileHandle file, std::uint64_t count) {
  if (InjectFault("skip")) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(count);
  return SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_CURRENT) != 0;
}

std::int64_t RemainingBytes(FileHandle file) {
  if (InjectFault("size")) return -1;
  LARGE_INTEGER size, position, zero;
  zero.QuadPart = 0;
  if (!GetFileSizeEx(ToHandle(file), &size) ||
      !SetFilePointerEx(ToHandle(file), zero, &position, FILE_CURRENT)) {
    return -1;
  }
  return size.QuadPart > position.QuadPart ? size.QuadPart - position.QuadPart : 0;
}

bool CloseFileHandle(FileHandle file) {
  if (InjectFault("close")) {
    CloseHandle(ToHandle(file));
    return false;
  }
  return CloseHandle(ToHandle(file)) != 0;
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

std::int64_t native::ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  DWORD got = 0;
  return ReadFile(ToHandle(file), buffer, count, &got, nullptr) ? std::int64_t{got} : -1;
}

std::int64_t native::WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  DWORD put = 0;
  return WriteFile(ToHandle(file), buffer, count, &put, nullptr) ? std::int64_t{put} : -1;
}

FileHandle native::CreateNewFile(const std::string& name, bool& nameTaken) {
  // Shared for deletion only, so that an interrupt can remove the file while
  // it is still open; CREATE_NEW never opens what is already there, a link
  // included.
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  nameTaken = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
  return FromHandle(file);
}

unsigned long native::ProcessId() {
  return GetCurrentProcessId();
}

bool native::MoveReplacing(const std::string& from, const std::string& to) {
  // Replacing a file that someone has open, even for a moment, is refused
  // with access denied.
  const DWORD error = RetryWhileBusy(
      [&] {
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)
                   ? DWORD{ERROR_SUCCESS}
                   : GetLastError();
      },
      ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION);
  return error == ERROR_SUCCESS;
}

void native::RemoveNamed(const char* name) {
  DeleteFileA(name);
}

#ifdef BRONTA_FAULT_INJECTION
void native::RaiseInterrupt() {
  // The event reaches every process on this console, this one on a thread
  // of its own; the default handler then ends the process. Where the
  // console cannot take the event (Wine's, without a terminal), the process
  // takes a console of its own, keeping its redirected standard handles.
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE kept[3];
    for (int i = 0; i < 3; ++i) kept[i] = GetStdHandle(kinds[i]);
    FreeConsole();
    if (!AllocConsole()) return;
    for (int i = 0; i < 3; ++i) SetStdHandle(kinds[i], kept[i]);
    SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C may have been switched off
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return;
  }
  Sleep(10000);
}
#endif

}  // namespace platform
