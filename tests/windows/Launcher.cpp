// Starts bronta.exe as another program or a script does, or, copied as
// explorer.exe, as Explorer does: in a console window of its own, shown
// normally, minimized or hidden. Then, for each key given, it waits three seconds
// for the run to end; when it has not, it prints "waiting", tries to rename
// FOLDER (printing "folder held" when that is refused), and types the key
// into the run's console. Last it prints "ended STATUS", or "still waiting"
// (and ends the run).
//   launcher normal|minimized|hidden KEYS PROGRAM FILE FOLDER
// KEYS: virtual-key codes in hex, separated by commas ("10,41": Shift, A),
// or "-" for none.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void TypeInto(DWORD process, WORD key) {
  FreeConsole();
  if (!AttachConsole(process)) return;
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  INPUT_RECORD records[2] = {};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    records[i].Event.KeyEvent.bKeyDown = i == 0;
    records[i].Event.KeyEvent.wRepeatCount = 1;
    records[i].Event.KeyEvent.wVirtualKeyCode = key;
    records[i].Event.KeyEvent.uChar.AsciiChar = key >= 0x30 && key <= 0x5A ? char(key) : 0;
  }
  DWORD written;
  WriteConsoleInputA(in, records, 2, &written);
  CloseHandle(in);
  FreeConsole();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESHOWWINDOW;
  const std::string shown = argv[1];
  start.wShowWindow = shown == "minimized" ? SW_SHOWMINNOACTIVE
                      : shown == "hidden"  ? SW_HIDE
                                           : SW_SHOWNORMAL;
  std::string line = std::string("\"") + argv[3] + "\" \"" + argv[4] + "\"";
  PROCESS_INFORMATION run;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &start, &run)) {
    std::printf("not started: %lu\n", GetLastError());
    return 1;
  }
  for (const char* keys = argv[2]; *keys && *keys != '-';) {
    char* end;
    const WORD key = static_cast<WORD>(std::strtoul(keys, &end, 16));
    keys = *end == ',' ? end + 1 : end;
    if (WaitForSingleObject(run.hProcess, 3000) == WAIT_OBJECT_0) break;
    std::printf("waiting\n");
    const std::string moved = std::string(argv[5]) + ".moved";
    if (MoveFileA(argv[5], moved.c_str())) {
      MoveFileA(moved.c_str(), argv[5]);
    } else {
      std::printf("folder held\n");
    }
    TypeInto(run.dwProcessId, key);
  }
  DWORD status = 0;
  if (WaitForSingleObject(run.hProcess, 3000) != WAIT_OBJECT_0) {
    std::printf("still waiting\n");
    TerminateProcess(run.hProcess, 1);
    return 0;
  }
  GetExitCodeProcess(run.hProcess, &status);
  std::printf("ended %lu\n", status);
  return 0;
}
