// Recording fakes of the process and window interfaces for tests of the run sequence.
#pragma once

#include <functional>
#include <string>

#include "platform/processes.h"
#include "platform/window.h"
#include "tests/fakes/call_log.h"

namespace kesmar::testing {

class FakeProcesses final : public ProcessApi {
 public:
  explicit FakeProcesses(CallLog* log) : log_(log) {}

  bool createSucceeds = true;
  bool shellSucceeds = true;
  bool shellGivesHandle = true;
  // Runs while the launcher waits: what the setup program does to the disk.
  std::function<void()> whileRunning;
  StartupData lastStartup;

  bool CreateProcessA(const std::string& application, const std::string& currentDirectory,
                      const StartupData& startup, ProcessInformation* info) override {
    log_->Add("CreateProcessA(" + application + "," + currentDirectory + ")");
    lastStartup = startup;
    if (!createSucceeds) return false;
    info->hProcess = &process_;
    info->hThread = &thread_;
    return true;
  }
  void WaitForSingleObject(ProcessHandle handle) override {
    log_->Add(std::string("WaitForSingleObject(") + Name(handle) + ")");
    if (whileRunning) whileRunning();
  }
  void CloseHandle(ProcessHandle handle) override {
    log_->Add(std::string("CloseHandle(") + Name(handle) + ")");
  }
  void Sleep(uint32_t milliseconds) override {
    log_->Add("Sleep(" + std::to_string(milliseconds) + ")");
  }
  bool ShellExecuteExA(const std::string& file, const std::string& directory,
                       ProcessHandle* process) override {
    log_->Add("ShellExecuteExA(open," + file + "," + directory + ")");
    if (!shellSucceeds) return false;
    *process = shellGivesHandle ? &shellProcess_ : nullptr;
    return true;
  }

 private:
  const char* Name(ProcessHandle handle) const {
    if (handle == &process_) return "process";
    if (handle == &thread_) return "thread";
    if (handle == &shellProcess_) return "shell process";
    return "unknown";
  }
  CallLog* log_;
  int process_ = 0, thread_ = 0, shellProcess_ = 0;
};

class FakeWindow final : public WindowApi {
 public:
  explicit FakeWindow(CallLog* log) : log_(log) {}
  bool createSucceeds = true;

  std::wstring LoadStringW(uint32_t id, int limit) override {
    log_->Add("LoadStringW(" + std::to_string(id) + "," + std::to_string(limit) + ")");
    return L"KesmarSetupWin";
  }
  void RegisterLauncherClass(const std::wstring&) override { log_->Add("RegisterLauncherClass"); }
  bool CreateLauncherWindow(const std::wstring&, const std::wstring&) override {
    log_->Add("CreateLauncherWindow");
    return createSucceeds;
  }
  void HideLauncherWindow() override { log_->Add("HideLauncherWindow"); }

 private:
  CallLog* log_;
};

}  // namespace kesmar::testing
