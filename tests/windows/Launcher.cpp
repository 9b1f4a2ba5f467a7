// Starts bronta.exe as another program or a script does, or, copied as
// explorer.exe, as Explorer does: in a console window of its own, shown
// normally, minimized or hidden. When the run ends within ten seconds, it
// prints "ended STATUS". Otherwise it prints "waiting", tries to rename
// FOLDER (printing "folder held" when that is refused), types all the keys
// given into the run's console at once (03: Ctrl+C, sent as the console's
// event), and prints "ended STATUS left N", N the key events that the run
// left unread, or "still waiting" (and ends the run).
//   launcher normal|minimized|hidden KEYS PROGRAM FILE FOLDER
// KEYS: virtual-key codes in hex, separated by commas ("10,41": Shift, A).
//
// Nothing tells from outside that the run waits for a key without changing
// what it does: it waits only while it is the one process in its console,
// which this one would join to read the console, and it holds its folder
// from before this one could see it held. So a run that has not ended
// within ten seconds is taken to wait, as no run takes that long here.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
  if (WaitForSingleObject(run.hProcess, 10000) != WAIT_TIMEOUT) {
    DWORD status = 0;
    GetExitCodeProcess(run.hProcess, &status);
    std::printf("ended %lu\n", status);
    return 0;
  }
  std::printf("waiting\n");
  const std::string moved = std::string(argv[5]) + ".moved";
  if (MoveFileA(argv[5], moved.c_str())) {
    MoveFileA(moved.c_str(), argv[5]);
  } else {
    std::printf("folder held\n");
  }
  FreeConsole();
  AttachConsole(run.dwProcessId);
  std::vector<INPUT_RECORD> records;
  for (const char* keys = argv[2]; *keys;) {
    char* end;
    const WORD key = static_cast<WORD>(std::strtoul(keys, &end, 16));
    keys = *end == ',' ? end + 1 : end;
    if (key == 0x03) {
      SetConsoleCtrlHandler(nullptr, TRUE);  // for the run, not for this process
      GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
      continue;
    }
    for (const BOOL down : {TRUE, FALSE}) {
      INPUT_RECORD record = {};
      record.EventType = KEY_EVENT;
      record.Event.KeyEvent.bKeyDown = down;
      record.Event.KeyEvent.wRepeatCount = 1;
      record.Event.KeyEvent.wVirtualKeyCode = key;
      record.Event.KeyEvent.uChar.AsciiChar = key >= 0x30 && key <= 0x5A ? char(key) : 0;
      records.push_back(record);
    }
  }
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD count = 0;
  WriteConsoleInputA(in, records.data(), static_cast<DWORD>(records.size()), &count);
  if (WaitForSingleObject(run.hProcess, 10000) != WAIT_OBJECT_0) {
    std::printf("still waiting\n");
    TerminateProcess(run.hProcess, 1);
    return 0;
  }
  GetNumberOfConsoleInputEvents(in, &count);
  DWORD status = 0;
  GetExitCodeProcess(run.hProcess, &status);
  std::printf("ended %lu left %lu\n", status, count);
  return 0;
}
