// The launcher's window strings, its window class and its one hidden window.
#pragma once

#include <cstdint>
#include <string>

namespace kesmar {

class WindowApi {
 public:
  virtual ~WindowApi() = default;

  // LoadStringW of string resource `id` into a buffer of `limit` code units;
  // an empty string when there is none.
  virtual std::wstring LoadStringW(uint32_t id, int limit) = 0;
  // Fills the launcher's WNDCLASSEXW (class icon 107, arrow cursor, small
  // icon 108, menu name 109, COLOR_WINDOW + 1 background, the launcher's
  // window procedure) and registers it; the outcome is not reported.
  virtual void RegisterLauncherClass(const std::wstring& className) = 0;
  // CreateWindowExW of an overlapped window of that class at -9000,-9000,
  // 8 by 8, message-only (HWND_MESSAGE as parent), no menu. True when a
  // window resulted.
  virtual bool CreateLauncherWindow(const std::wstring& className, const std::wstring& title) = 0;
  // ShowWindow(SW_HIDE), then UpdateWindow, on the window just created. The
  // window is never addressed again and lasts as long as the process.
  virtual void HideLauncherWindow() = 0;
};

}  // namespace kesmar
