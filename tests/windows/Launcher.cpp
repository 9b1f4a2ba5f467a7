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
// As another program at a run's files, as on a modder's machine:
//   launcher scan MS - - FOLDER: a virus scanner, which opens each file in
//     FOLDER that is new or newly written as it appears, sharing reading
//     alone, and holds it MS milliseconds; until it is ended.
//   launcher hold|kill MS PROGRAM FILE FOLDER: once the run's temporary
//     file is in FOLDER, holds FILE's output (NAME.wss) as the scanner does
//     for MS milliseconds, then lets it go (hold) or ends the run with
//     TerminateProcess (kill); then prints "ended STATUS".
//
// Nothing tells from outside that the run waits for a key without changing
// what it does: it waits only while it is the one process in its console,
// which this one would join to read the console, and it holds its folder
// from before this one could see it held. So a run that has not ended
// within ten seconds is taken to wait, as no run takes that long here.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

static HANDLE Hold(const std::string& file) {
  return CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

static bool HasTemporary(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*.tmp-*").c_str(), &found);
  return find != INVALID_HANDLE_VALUE && FindClose(find);
}

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const std::string mode = argv[1], folder = argv[5];
  const DWORD ms = std::strtoul(argv[2], nullptr, 10);
  for (std::set<std::string> seen; mode == "scan";) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    do {
      const std::string name = found.cFileName,
                        key = name + std::to_string(found.ftLastWriteTime.dwLowDateTime);
      HANDLE held = seen.count(key) ? INVALID_HANDLE_VALUE : Hold(folder + "\\" + name);
      if (held != INVALID_HANDLE_VALUE && seen.insert(key).second) Sleep(ms);
      CloseHandle(held);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    Sleep(1);
  }
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESHOWWINDOW;
  start.wShowWindow = mode == "minimized" ? SW_SHOWMINNOACTIVE
                      : mode == "hidden"  ? SW_HIDE
                                          : SW_SHOWNORMAL;
  std::string line = std::string("\"") + argv[3] + "\" \"" + argv[4] + "\"";
  PROCESS_INFORMATION run;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &start, &run)) {
    std::printf("not started: %lu\n", GetLastError());
    return 1;
  }
  if (mode == "hold" || mode == "kill") {
    while (!HasTemporary(folder) && WaitForSingleObject(run.hProcess, 1) == WAIT_TIMEOUT) continue;
    const std::string input = argv[4];
    HANDLE held = Hold(input.substr(0, input.size() - 3) + "wss");
    if (WaitForSingleObject(run.hProcess, ms) == WAIT_TIMEOUT && mode == "kill") {
      TerminateProcess(run.hProcess, 1);  // the output held, so before the rename
    }
    CloseHandle(held);
  }
  if (WaitForSingleObject(run.hProcess, 10000) != WAIT_TIMEOUT) {
    DWORD status = 0;
    GetExitCodeProcess(run.hProcess, &status);
    std::printf("ended %lu\n", status);
    return 0;
  }
  std::printf("waiting\n");
  const std::string moved = folder + ".moved";
  if (!MoveFileA(folder.c_str(), moved.c_str()) || !MoveFileA(moved.c_str(), folder.c_str())) {
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
      INPUT_RECORD record = {KEY_EVENT, {}};
      const WCHAR typed = key >= 0x30 && key <= 0x5A ? key : 0;  // a letter or a digit
      record.Event.KeyEvent = {down, 1, key, 0, {typed}, 0};
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
