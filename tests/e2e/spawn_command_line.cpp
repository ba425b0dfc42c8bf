// Test helper: starts a program with an exact command line and returns its exit code.
//   spawn_command_line APPLICATION   (the command line comes from KESMAR_SPAWN_COMMAND_LINE)
// Wine quotes the arguments it is given, so tests that need a particular
// command line (quotes, tabs, text glued to the name) pass it through here.
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: spawn_command_line APPLICATION\n", stderr);
    return 2;
  }
  wchar_t text[4096];
  const DWORD length = GetEnvironmentVariableW(L"KESMAR_SPAWN_COMMAND_LINE", text, 4096);
  if (length == 0 || length >= 4096) {
    std::fputs("spawn_command_line: KESMAR_SPAWN_COMMAND_LINE is not set\n", stderr);
    return 2;
  }
  std::vector<wchar_t> commandLine(text, text + length + 1);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "spawn_command_line: CreateProcessW failed (%lu)\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 2;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return int(code);
}
