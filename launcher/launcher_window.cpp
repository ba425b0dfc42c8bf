// The launcher's window class, window procedure and hidden window (Win32 only).
#include <vector>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace kesmar {
namespace {

constexpr int kClassIconId = 107;
constexpr int kSmallIconId = 108;
constexpr int kMenuNameId = 109;

HINSTANCE Instance(void* instance) { return static_cast<HINSTANCE>(instance); }

}  // namespace

LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

std::wstring Win32Window::LoadStringW(uint32_t id, int limit) {
  std::vector<wchar_t> buffer(size_t(limit), L'\0');
  ::LoadStringW(Instance(instance_), id, buffer.data(), limit);
  return std::wstring(buffer.data());
}

void Win32Window::RegisterLauncherClass(const std::wstring& className) {
  WNDCLASSEXW windowClass;
  windowClass.cbSize = sizeof(WNDCLASSEXW);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = LauncherWindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = Instance(instance_);
  windowClass.hIcon = LoadIconW(Instance(instance_), MAKEINTRESOURCEW(kClassIconId));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEW(kMenuNameId);
  windowClass.lpszClassName = className.c_str();
  windowClass.hIconSm = LoadIconW(Instance(instance_), MAKEINTRESOURCEW(kSmallIconId));
  RegisterClassExW(&windowClass);
}

bool Win32Window::CreateLauncherWindow(const std::wstring& className, const std::wstring& title) {
  // A message-only window: it never receives broadcasts. The main thread
  // runs no message loop, so a broadcast SendMessage to an ordinary top-level
  // window of ours would block its sender until the launcher ends: our own
  // font-change threads, and worse, a setup program that broadcasts a
  // setting change would wait on us while we wait on it.
  window_ = CreateWindowExW(0, className.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, -9000, -9000,
                            8, 8, HWND_MESSAGE, nullptr, Instance(instance_), nullptr);
  return window_ != nullptr;
}

void Win32Window::HideLauncherWindow() {
  ShowWindow(static_cast<HWND>(window_), SW_HIDE);
  UpdateWindow(static_cast<HWND>(window_));
}

}  // namespace kesmar
