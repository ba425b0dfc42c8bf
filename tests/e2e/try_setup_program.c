/* A setup program for the tests of kesmar-pack try; files beside it in the payload say what it does:
 *   install.txt  writes C:\ProgramData\KesmarTry\installed.txt and HKCU\Software\KesmarTry "Installed" = "yes"
 *   wizard.txt   then shows a window titled "Kesmar Try Wizard" with a button, and waits for a person for ever
 * Without either it exits 0 at once. */
#include <windows.h>
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)previous, (void)arguments, (void)show;
  if (Beside("install.txt") && !Install()) return 1;
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
