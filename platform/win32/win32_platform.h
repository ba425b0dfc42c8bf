// The real Win32 implementations of the launcher's process and window interfaces.
#pragma once

#include "platform/processes.h"
#include "platform/window.h"

namespace kesmar {

class Win32Processes final : public ProcessApi {
 public:
  bool CreateProcessA(const std::string& application, const std::string& currentDirectory,
                      const StartupData& startup, ProcessInformation* info) override;
  void WaitForSingleObject(ProcessHandle handle) override;
  void CloseHandle(ProcessHandle handle) override;
  void Sleep(uint32_t milliseconds) override;
  bool ShellExecuteExA(const std::string& file, const std::string& directory,
                       ProcessHandle* process) override;
};

// The window side needs the module instance; it is passed as an opaque
// pointer so this header stays free of <windows.h>.
class Win32Window final : public WindowApi {
 public:
  explicit Win32Window(void* instance) : instance_(instance) {}
  std::wstring LoadStringW(uint32_t id, int limit) override;
  void RegisterLauncherClass(const std::wstring& className) override;
  bool CreateLauncherWindow(const std::wstring& className, const std::wstring& title) override;
  void HideLauncherWindow() override;

 private:
  void* instance_;
  void* window_ = nullptr;
};

}  // namespace kesmar
