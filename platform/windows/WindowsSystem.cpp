// The calls of SystemCalls.inc on Windows, the console program's home, with
// the Windows API alone and no C runtime I/O.

#include <windows.h>
// After windows.h, which they need.
#include <ntsecapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include "platform/CommandLine.h"
#include "platform/Platform.h"

namespace BRONTA_SYSTEM {

namespace {

// kInvalidHandle as none: a folder that is not held.
HANDLE ToHandle(FileHandle file) {
  return file == kInvalidHandle ? nullptr : reinterpret_cast<HANDLE>(file);
}
FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<FileHandle>(handle);
}

// ntdll's status of the last call that failed (on every Windows from XP
// on), which tells apart what GetLastError reports alike.
extern "C" NTSTATUS NTAPI RtlGetLastNtStatus();

// Runs `attempt`, which gives ERROR_SUCCESS or the error it met, again with
// a growing pause for about three seconds in all while `busy(error)`:
// someone else has the file open for a moment (a virus scanner, a sync
// client, Explorer's preview, another run finishing the same output), and
// such a moment passes. Three seconds stay under the five that Windows
// gives a console-close handler. Returns the last result.
template <typename Attempt, typename Busy>
DWORD RetryWhileBusy(Attempt attempt, Busy busy) {
  for (DWORD waited = 0, pause = 10;; waited += pause, pause = pause < 250 ? 2 * pause : 500) {
    const DWORD error = attempt();
    if (error == ERROR_SUCCESS || !busy(error) || waited >= 3000) return error;
    Sleep(pause);
  }
}

enum class Identity { kOther, kSame, kUnknown };

// Whether `name` is the file open as `file`, by whatever path or link: the
// same file index on the same volume. A file system that numbers no file
// gives every file the index 0, which tells nothing. An open for no access
// at all sees the file even while others hold it exclusively.
Identity Compare(const std::string& name, HANDLE file) {
  HANDLE other =
      CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool alike = other != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &a) &&
                     GetFileInformationByHandle(other, &b) &&
                     a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                     a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  if (!alike) return Identity::kOther;
  return a.nFileIndexHigh != 0 || a.nFileIndexLow != 0 ? Identity::kSame : Identity::kUnknown;
}

// Sets or clears the mark that deletes `file` as its last handle closes
// (NtSetInformationFile, FileDispositionInformation).
bool MarkForDeletion(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFORMATION disposition = {remove};
  IO_STATUS_BLOCK io;
  return NT_SUCCESS(NtSetInformationFile(file, &io, &disposition, sizeof disposition,
                                         FileDispositionInformation));
}

// The console handler runs on a thread of its own, at any moment. It and
// the main thread agree through one lock, which BlockSignals takes: the
// main thread holds it while it creates the temporary file and marks it for
// deletion, and from just before the final move to the end, so the handler
// never ends the process with an unmarked file and never reports an
// interrupted run for an output already in place.
CRITICAL_SECTION g_guard;
volatile LONG g_interrupted = 0;  // the handler has begun

HANDLE g_heldFolder = nullptr;  // the folder OpenFolder opened
bool g_marked = false;          // the temporary file is marked for deletion
bool g_printed = false;         // WriteConsoleLine wrote a line

// Ctrl+C, Ctrl+Break, a closed console window, a logoff or a shutdown: the
// temporary output goes and the process ends with the status that Windows
// gives an interrupted program, so that a script sees that the run failed.
// The temporary file is marked for deletion, and goes as the process's
// handles close. A process started with Ctrl+C ignored (start /b, a new
// process group) never gets here for Ctrl+C: Windows calls no handler then,
// so the signal stays ignored as it was.
BOOL WINAPI RemoveAndEnd(DWORD) {
  InterlockedExchange(&g_interrupted, 1);
  EnterCriticalSection(&g_guard);  // never left: the process ends here
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

// Whether Explorer started the process (a dropped file, a double-click, the
// Run box): its parent is explorer.exe.
bool StartedByExplorer() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  const auto find = [&](DWORD id) {
    entry.dwSize = sizeof entry;
    BOOL more = Process32First(snapshot, &entry);
    while (more && entry.th32ProcessID != id) more = Process32Next(snapshot, &entry);
    return more != FALSE;
  };
  const bool explorer = find(GetCurrentProcessId()) && find(entry.th32ParentProcessID) &&
                        lstrcmpiA(entry.szExeFile, "explorer.exe") == 0;
  CloseHandle(snapshot);
  return explorer;
}

// Whether the process shows a console window of its own that would close
// with its message: it is the only process in its console (cmd and a .bat
// file share theirs), standard output is that console, Explorer started it
// (a script or another program never waits), and not with its window
// hidden (SW_HIDE), which nobody could see.
bool ShowsOwnConsole() {
  DWORD processes[2], mode;
  STARTUPINFOA start;
  GetStartupInfoA(&start);
  return GetConsoleProcessList(processes, 2) == 1 && GetConsoleWindow() != nullptr &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
         !((start.dwFlags & STARTF_USESHOWWINDOW) && start.wShowWindow == SW_HIDE) &&
         StartedByExplorer();
}

// A key that only modifies others, which ends no wait, as in cmd's "pause".
bool OnlyModifies(WORD key) {
  return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_LWIN ||
         key == VK_RWIN || key == VK_CAPITAL || key == VK_NUMLOCK || key == VK_SCROLL;
}

// A name in the folder. The folder itself is "." in it, but for a \\?\ or
// \\.\ path, which takes "." literally: there it is the path itself,
// which ends in a separator.
std::string InFolder(const Folder& folder, const std::string& name) {
  if (!name.empty()) return folder.path + name;
  const bool literal = folder.path.rfind("\\\\?\\", 0) == 0 || folder.path.rfind("\\\\.\\", 0) == 0;
  return literal ? folder.path : folder.path + ".";
}

}  // namespace

std::vector<std::string> SetUpProcess(int, char**) {
  // A missing floppy or CD must fail the open, not stop the run with a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  InitializeCriticalSection(&g_guard);
  SetConsoleCtrlHandler(RemoveAndEnd, TRUE);

  // The command line comes as UTF-16 and is taken in the ANSI code page,
  // where file names are taken too. GetCommandLineA would convert it with
  // "best fit", turning characters that the code page lacks into others it
  // has (fullwidth letters into ASCII ones, a fullwidth solidus into "/"),
  // and so name another file. Without best fit such a character becomes
  // "?", which no file name may hold, and the open fails. Where the code
  // page is UTF-8 (the manifest's activeCodePage), nothing is lost; that
  // conversion takes neither flags nor a default character.
  const wchar_t* wide = GetCommandLineW();
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unmappable = utf8 ? nullptr : "?";
  const int bytes = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, unmappable, nullptr);
  if (bytes <= 0) return {};
  std::string line(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide, -1, line.data(), bytes, unmappable, nullptr);
  std::vector<std::string> words = SplitCommandLine(line);
  if (!words.empty()) words.erase(words.begin());  // the program's own name
  return words;
}

LeadByteSet LeadByteRanges() {
  // The system reports the lead bytes as (low, high) pairs, ending at a
  // pair 0, 0, which comes first in a single-byte code page and in UTF-8.
  // GetSystemMetrics(SM_DBCSENABLED) is not asked: it would load
  // user32.dll, and a console process that loads it gets no
  // CTRL_LOGOFF_EVENT or CTRL_SHUTDOWN_EVENT (SetConsoleCtrlHandler).
  LeadByteSet set;
  CPINFO info{};
  if (!GetCPInfo(CP_ACP, &info)) return set;
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) set.lead[b] = true;
  }
  return set;
}

bool IsFolderSeparator(unsigned char c) {
  return c == '\\' || c == '/' || c == ':';
}

bool RandomNumber(std::uint64_t& number) {
  return RtlGenRandom(&number, sizeof number);
}

void WriteConsoleLine(const std::string& text) {
  // A handle of unknown kind takes no lines.
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const std::string line = text + "\r\n";
  DWORD written;
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  g_printed = true;
}

void EndProcess(int status) {
  // A line in a console window of the process's own would close with it:
  // the window waits for a key first, as cmd's "pause" does, with the
  // folder closed meanwhile, so that it can be renamed or removed.
  if (g_printed && ShowsOwnConsole()) {
    if (g_heldFolder) CloseHandle(g_heldFolder);
    static const char kPrompt[] = "Press any key to continue . . . ";
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(in);  // a key typed before the prompt ends nothing
    DWORD count;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kPrompt, sizeof kPrompt - 1, &count, nullptr);
    INPUT_RECORD record;
    while (ReadConsoleInputA(in, &record, 1, &count) && count == 1 &&
           !(record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
             !OnlyModifies(record.Event.KeyEvent.wVirtualKeyCode))) {
    }
  }
  ::ExitProcess(static_cast<UINT>(status));
}

FileHandle OpenInputFile(const Folder& folder, const std::string& name) {
  // The folder is held and cannot be renamed, so its path still leads to it.
  HANDLE file =
      CreateFileA(InFolder(folder, name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Devices (CON, NUL, COM1, ...) are not sound files.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kInvalidHandle;
  }
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

bool SeekTo(FileHandle file, std::uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_BEGIN) != 0;
}

std::int64_t FileSize(FileHandle file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(ToHandle(file), &size) ? size.QuadPart : -1;
}

FileHandle DuplicateFile(FileHandle file) {
  HANDLE duplicate;
  return DuplicateHandle(GetCurrentProcess(), ToHandle(file), GetCurrentProcess(), &duplicate, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)
             ? FromHandle(duplicate)
             : kInvalidHandle;
}

bool CloseFileHandle(FileHandle file) {
  return CloseHandle(ToHandle(file)) != 0;
}

bool OpenFolder(const std::string& path, Folder& folder) {
  // Held without sharing for deletion, the folder cannot be renamed or
  // removed while the run writes into it: renaming a folder asks for delete
  // access to it, and this handle refuses that. (Without it, Wine lets
  // another program rename the folder under a run, whose temporary file is
  // then left behind.) A folder that cannot be held, one this user may not
  // list, is used by its name alone.
  folder.path = path;
  folder.handle = FromHandle(CreateFileA(InFolder(folder, "").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  g_heldFolder = ToHandle(folder.handle);
  if (g_heldFolder) return true;
  const DWORD attributes = GetFileAttributesA(InFolder(folder, "").c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MayReplace(const Folder& folder, const std::string& name, FileHandle input, EarlierFile&) {
  const std::string path = InFolder(folder, name);
  const Identity identity = Compare(path, ToHandle(input));
  if (identity == Identity::kSame) return false;
  // An exclusive open of an existing output fails when it is a directory, a
  // read-only file, or open in another program, which is waited for; so is
  // a file deleted while another program holds it (delete pending), which
  // the open meets as access denied too. A file that may be the run's own
  // input is never let go.
  const DWORD error = RetryWhileBusy(
      [&] {
        HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return GetLastError();
        CloseHandle(probe);
        return DWORD{ERROR_SUCCESS};
      },
      [&](DWORD error) {
        return (error == ERROR_SHARING_VIOLATION && identity != Identity::kUnknown) ||
               RtlGetLastNtStatus() == static_cast<NTSTATUS>(0xC0000056);  // STATUS_DELETE_PENDING
      });
  return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}

FileHandle CreateNewFile(const Folder& folder, const std::string& name, const EarlierFile&,
                         CreateFailure& why) {
  // CREATE_NEW never opens what is already there, a link included. Shared
  // with nobody and marked for deletion at once, the file is nobody else's
  // to open (delete pending), and the system removes it as its handle
  // closes, however the process ends, TerminateProcess included. A file
  // system that takes no mark would not remove it by name either (DeleteFile
  // marks a file the same way): such a file is emptied where it is
  // discarded.
  HANDLE file = CreateFileA(InFolder(folder, name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                            0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    why = CreateFailure::kNone;
    g_marked = MarkForDeletion(file, true);
    return FromHandle(file);
  }
  why = GetLastError() == ERROR_FILE_EXISTS ? CreateFailure::kNameTaken : CreateFailure::kOther;
  return kInvalidHandle;
}

bool CopyPermissions(const Folder&, const std::string&, const EarlierFile&, FileHandle) {
  return true;  // the new file has the security of any new file in its folder
}

bool FileExists(const Folder& folder, const std::string& name) {
  return GetFileAttributesA(InFolder(folder, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MoveReplacing(const Folder& folder, const std::string&, FileHandle file,
                   const std::string& to) {
  // A rename through the handle (FileRenameInformation), relative to the
  // held folder (a folder not held is given as none, which Windows takes
  // for the file's own, and Wine 8 refuses), replaces in one step, and a
  // failure leaves the earlier file as it was. ReplaceFile would keep the
  // earlier file's attributes and security, but without a backup name one
  // of its failures leaves the earlier file gone; and under Wine 8 it
  // refuses relative names (ERROR_DIRECTORY). So the new output gets the
  // security of any new file in its folder. The name is in UTF-16, as the
  // ANSI calls take it; a name in a folder has at most 255 units.
  alignas(FILE_RENAME_INFORMATION) WCHAR buffer[sizeof(FILE_RENAME_INFORMATION) + MAX_PATH] = {};
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer);
  *rename = {TRUE, ToHandle(folder.handle), 0, {}};
  const int units =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, to.c_str(), -1, rename->FileName, MAX_PATH);
  if (units <= 0) return false;
  rename->FileNameLength = static_cast<ULONG>(sizeof(WCHAR) * (units - 1));
  // Replacing a file that someone has open, even for a moment, is refused
  // with access denied, and waited for. The mark is cleared just before
  // each try (else the close would delete the output) and set again after
  // a failed one, so that a kill meanwhile leaves nothing.
  HANDLE handle = ToHandle(file);
  const DWORD error = RetryWhileBusy(
      [&] {
        if (g_marked && !MarkForDeletion(handle, false)) return DWORD{ERROR_INVALID_FUNCTION};
        IO_STATUS_BLOCK io;
        const DWORD renamed = RtlNtStatusToDosError(
            NtSetInformationFile(handle, &io, rename, sizeof buffer, FileRenameInformation));
        g_marked = renamed != ERROR_SUCCESS && g_marked && MarkForDeletion(handle, true);
        return renamed;
      },
      [](DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; });
  return error == ERROR_SUCCESS;
}

bool RemoveFile(const Folder&, const std::string&) {
  return g_marked;  // it goes as its handle closes
}

void TruncateFile(FileHandle file) {
  LARGE_INTEGER start{};
  if (SetFilePointerEx(ToHandle(file), start, nullptr, FILE_BEGIN)) SetEndOfFile(ToHandle(file));
}

void BlockSignals() {
  EnterCriticalSection(&g_guard);
}

void UnblockSignals() {
  LeaveCriticalSection(&g_guard);
  // An interrupt that came meanwhile ends the process on the handler's
  // thread, now that it may; this thread waits for that rather than run on.
  if (g_interrupted) Sleep(INFINITE);
}

bool SetFileRemovedOnSignal(const Folder&, const std::string&, FileHandle) {
  return true;  // the mark for deletion removes it
}

#ifdef BRONTA_FAULT_INJECTION
bool RaiseInterrupt(int) {
  // The event reaches every process on this console, this one on a thread
  // of its own. Where the console cannot take the event (Wine's, without a
  // terminal), the process takes a console of its own, keeping its
  // redirected standard handles.
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
  // As with a signal: the handler ends the process at once, unless this
  // thread holds the lock (BlockSignals), when it waits and this thread goes on.
  for (int waited = 0; !g_interrupted && waited < 10000; waited += 10) Sleep(10);
  if (reinterpret_cast<DWORD_PTR>(g_guard.OwningThread) != GetCurrentThreadId()) Sleep(10000);
  return true;
}
#endif

}  // namespace BRONTA_SYSTEM
