/* A setup program for the tests of kesmar-pack try; files beside it in the payload say what it does:
 *   install.txt  writes C:\ProgramData\KesmarTry\installed.txt and HKCU\Software\KesmarTry "Installed" = "yes"
 *   wizard.txt   then shows a window titled "Kesmar Try Wizard" with a button, and waits for a person for ever
 *   exit.txt     exits with the number it holds
 *   crash.txt    runs an illegal instruction
 *   forge.txt    writes watcher lines that claim a clean run wherever it can write (its standard handles, the C
 *                runtime's streams, the console, Unix descriptors 0 to 2 by system call), then a line cut short;
 *                starts a copy of itself that writes them again once this one has ended; exits 5
 *   stdin.txt    reads its standard input (handle and Unix descriptor 0) to the end, then waits for ever
 *   escape.txt   writes a file at each Windows path it names, one a line (Z:\..., \\?\unix\...)
 * Without any it exits 0 at once. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Beside(const char* name) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  char* slash = strrchr(path, '\\');
  if (!slash || (size_t)(slash + 1 - path) + strlen(name) >= MAX_PATH) return 0;
  strcpy(slash + 1, name);
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static int Install(void) {
  CreateDirectoryA("C:\\ProgramData\\KesmarTry", NULL);
  HANDLE file = CreateFileA("C:\\ProgramData\\KesmarTry\\installed.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD written = 0;
  int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, "installed\r\n", 11, &written, NULL) && written == 11;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KesmarTry", 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS) {
    return 0;
  }
  ok = RegSetValueExA(key, "Installed", 0, REG_SZ, (const BYTE*)"yes", 4) == ERROR_SUCCESS && ok;
  RegCloseKey(key);
  return ok;
}

/* A Linux system call with up to three arguments, as a program under Wine can make. */
static long LinuxCall(long number, long a, long b, long c) {
  long result;
  __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(a), "c"(b), "d"(c) : "memory");
  return result;
}

static void WriteEverywhere(const char* text) {
  const DWORD size = (DWORD)strlen(text);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, size, &written, NULL);
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, size, &written, NULL);
  fputs(text, stdout);
  fflush(stdout);
  fputs(text, stderr);
  fflush(stderr);
  HANDLE console = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (console != INVALID_HANDLE_VALUE) {
    WriteFile(console, text, size, &written, NULL);
    CloseHandle(console);
  }
  for (long fd = 0; fd <= 2; ++fd) LinuxCall(4 /* write */, fd, (long)text, (long)size);
}

/* Lines that would make a failed run pass: this process and `other` exited with 0, the launcher is some other. */
static void Forge(DWORD other) {
  char lines[512];
  snprintf(lines, sizeof lines,
           "exit\t100\t%lu\t0\nexit\t100\t%lu\t0\nimage\t%lu\tC:\\Program Files\\Trusted Vendor\\trusted.exe\n"
           "done\t100\t0\n",
           (unsigned long)GetCurrentProcessId(), (unsigned long)other, (unsigned long)other);
  WriteEverywhere(lines);
  WriteEverywhere("exit\t1");
}

static void ReadToTheEnd(void) {
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, NULL) && got > 0) {
  }
  while (LinuxCall(3 /* read */, 0, (long)buffer, sizeof buffer) > 0) {
  }
}

/* Calls `act` with each line of the file beside the program named `name`; false when there is none. */
static int EachLine(const char* name, void (*act)(const char* line)) {
  char path[MAX_PATH], line[1024];
  if (!Beside(name)) return 0;
  GetModuleFileNameA(NULL, path, MAX_PATH);
  strcpy(strrchr(path, '\\') + 1, name);
  FILE* file = fopen(path, "r");
  if (!file) return 0;
  while (fgets(line, sizeof line, file)) {
    line[strcspn(line, "\r\n")] = 0;
    if (line[0]) act(line);
  }
  fclose(file);
  return 1;
}

static void WriteTo(const char* target) {
  HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, "escaped\r\n", 9, &written, NULL);
    CloseHandle(file);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)previous, (void)show;
  /* The copy that forges once its parent has ended: "--forge-after PID". */
  const char* after = strstr(arguments, "--forge-after ");
  if (after) {
    const DWORD parent = (DWORD)strtoul(after + 14, NULL, 10);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, parent);
    if (process) WaitForSingleObject(process, 10000);
    Forge(parent);
    return 0;
  }
  if (Beside("install.txt") && !Install()) return 1;
  EachLine("escape.txt", WriteTo);
  if (Beside("crash.txt")) __builtin_trap();
  if (Beside("forge.txt")) {
    char self[MAX_PATH], command[MAX_PATH + 64];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    snprintf(command, sizeof command, "\"%s\" --forge-after %lu", self, (unsigned long)GetCurrentProcessId());
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION copy;
    if (CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &copy)) {
      CloseHandle(copy.hThread);
      CloseHandle(copy.hProcess);
    }
    Forge(0);
    return 5;
  }
  if (Beside("stdin.txt")) {
    ReadToTheEnd();
    Sleep(INFINITE);
  }
  if (Beside("exit.txt")) {
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    strcpy(strrchr(path, '\\') + 1, "exit.txt");
    FILE* file = fopen(path, "r");
    int code = 1;
    if (file) {
      if (fscanf(file, "%d", &code) != 1) code = 1;
      fclose(file);
    }
    return code;
  }
  if (!Beside("wizard.txt")) return 0;
  HWND window = CreateWindowExW(0, L"STATIC", L"Kesmar Try Wizard", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 120, 100, 420,
                                300, NULL, NULL, instance, NULL);
  if (!window) return 1;
  CreateWindowExW(0, L"BUTTON", L"Next >", WS_CHILD | WS_VISIBLE, 300, 220, 90, 28, window, NULL, instance, NULL);
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
