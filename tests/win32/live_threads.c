/* Returns from WinMain while a thread of its own is still running, as the
 * launcher may: the process must still end with exit code 0 under Wine,
 * whatever runs Wine (qemu-user 7.2 crashes such a process now and then).
 * Its font-change broadcasts are made first and waited for: a process that
 * ends while a broadcast is still in flight crashes under Wine 8 itself,
 * about one exit in ten even on a kernel that runs 32-bit programs natively
 * (docs/wine.md), which is Wine's fault and nothing an emulator check can
 * tell apart. */
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
  HANDLE broadcasts[3];
  for (int i = 0; i < 3; ++i) {
    broadcasts[i] = CreateThread(NULL, 0, Broadcast, NULL, 0, NULL);
    if (broadcasts[i] == NULL) return 1;
  }
  WaitForMultipleObjects(3, broadcasts, TRUE, INFINITE);
  if (!CreateThread(NULL, 0, SleepForEver, NULL, 0, NULL)) return 1;
  return 0;
}
