// The system calls of System.h on Windows, the console program's home. Only
// the Windows API is used here, no C runtime I/O, so that the program's
// output and files behave exactly as the system's own calls make them.

#include <windows.h>

#include <cstring>

#include "platform/CommandLine.h"
#include "platform/System.h"

namespace platform::sys {

namespace {

HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<FileHandle>(handle);
}

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

// The file that an interrupt removes. The console handler reads it on a
// thread of its own, so it is a fixed array guarded by a lock-free flag.
char g_removeOnInterrupt[MAX_PATH + 64];
volatile LONG g_removeSet = 0;

// Ctrl+C, Ctrl+Break, a closed console window, a logoff or a shutdown: the
// temporary output goes and the process ends with the status that Windows
// gives an interrupted program, so that a script sees that the run failed.
// Runs on a thread of its own while the conversion may still be writing; the
// file is created shareable for deletion, so it goes as the process ends.
BOOL WINAPI RemoveAndEnd(DWORD) {
  if (InterlockedExchange(&g_removeSet, 0)) DeleteFileA(g_removeOnInterrupt);
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void PrepareProcess() {
  // A missing floppy or CD must fail the open, not stop the run with a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(RemoveAndEnd, TRUE);
}

std::vector<std::string> CommandLineWords(int, char**) {
  return SplitCommandLine(GetCommandLineA());
}

LeadByteSet CodePageLeadBytes() {
  const bool doubleByte = GetSystemMetrics(SM_DBCSENABLED) != 0;
  CPINFO info{};
  if (!doubleByte || !GetCPInfo(CP_ACP, &info)) return LeadBytesFromRanges(doubleByte, nullptr, 0);
  return LeadBytesFromRanges(true, info.LeadByte, sizeof info.LeadByte);
}

unsigned long ProcessId() {
  return GetCurrentProcessId();
}

void ExitProcess(int status) {
  ::ExitProcess(static_cast<UINT>(status));
}

FileHandle StandardOutput() {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return kInvalidHandle;
  // A handle of unknown kind takes no lines.
  return GetFileType(handle) == FILE_TYPE_UNKNOWN ? kInvalidHandle : FromHandle(handle);
}

bool IsConsole(FileHandle file) {
  return GetFileType(ToHandle(file)) == FILE_TYPE_CHAR;
}

const char* LineEnd() {
  return "\r\n";
}

FileHandle OpenRegularFile(const std::string& name) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Devices (CON, NUL, COM1, ...) are not sound files.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kInvalidHandle;
  }
  return FromHandle(file);
}

bool MayReplace(const std::string& name, FileHandle input) {
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

FileHandle CreateNewFile(const std::string& name, bool& nameTaken) {
  // Shared for deletion only, so that an interrupt can remove the file while
  // it is still open; CREATE_NEW never opens what is already there, a link
  // included.
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  nameTaken = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
  return FromHandle(file);
}

std::int64_t ReadOnce(FileHandle file, void* buffer, std::uint32_t count) {
  DWORD got = 0;
  return ReadFile(ToHandle(file), buffer, count, &got, nullptr) ? std::int64_t{got} : -1;
}

std::int64_t WriteOnce(FileHandle file, const void* buffer, std::uint32_t count) {
  DWORD put = 0;
  return WriteFile(ToHandle(file), buffer, count, &put, nullptr) ? std::int64_t{put} : -1;
}

bool SeekForward(FileHandle file, std::uint64_t count) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(count);
  return SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_CURRENT) != 0;
}

std::int64_t Position(FileHandle file) {
  LARGE_INTEGER zero, position;
  zero.QuadPart = 0;
  return SetFilePointerEx(ToHandle(file), zero, &position, FILE_CURRENT) ? position.QuadPart : -1;
}

std::int64_t FileSize(FileHandle file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(ToHandle(file), &size) ? size.QuadPart : -1;
}

bool Close(FileHandle file) {
  return CloseHandle(ToHandle(file)) != 0;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
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

void RemoveFile(const std::string& name) {
  DeleteFileA(name.c_str());
}

void RemoveOnInterrupt(const std::string& name) {
  InterlockedExchange(&g_removeSet, 0);
  if (name.empty() || name.size() >= sizeof g_removeOnInterrupt) return;
  std::memcpy(g_removeOnInterrupt, name.c_str(), name.size() + 1);
  InterlockedExchange(&g_removeSet, 1);
}

#ifdef BRONTA_FAULT_INJECTION
bool RaiseInterrupt() {
  // The event reaches every process on this console, this one on a thread
  // of its own; the handler then ends the process. Where the console cannot
  // take the event (Wine's, without a terminal), the process takes a console
  // of its own, keeping its redirected standard handles.
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE kept[3];
    for (int i = 0; i < 3; ++i) kept[i] = GetStdHandle(kinds[i]);
    FreeConsole();
    if (!AllocConsole()) return false;
    for (int i = 0; i < 3; ++i) SetStdHandle(kinds[i], kept[i]);
    SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C may have been switched off
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return false;
  }
  Sleep(10000);
  return true;
}
#endif

}  // namespace platform::sys
