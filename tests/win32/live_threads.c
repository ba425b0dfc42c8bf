/* Returns from WinMain while threads of its own are still running, as the
 * launcher does when its font-change broadcasts are still pending: three
 * threads broadcast WM_FONTCHANGE and one sleeps for ever. The process must
 * still end with exit code 0 under Wine, whatever runs Wine. */
#include <windows.h>

static DWORD WINAPI Broadcast(LPVOID unused) {
  (void)unused;
  SendMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
  return 1;
}

static DWORD WINAPI SleepForEver(LPVOID unused) {
  (void)unused;
  Sleep(INFINITE);
  return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)instance, (void)previous, (void)arguments, (void)show;
  for (int i = 0; i < 3; ++i) CreateThread(NULL, 0, Broadcast, NULL, 0, NULL);
  if (!CreateThread(NULL, 0, SleepForEver, NULL, 0, NULL)) return 1;
  return 0;
}
