// Recording fakes of the process and window interfaces for tests of the run sequence.
#pragma once

#include <functional>
#include <string>

#include "platform/processes.h"
#include "platform/window.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/failure_set.h"

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
  // Makes matching calls fail; see FailureSet. The argument matched is the
  // file for CreateProcessA and ShellExecuteExA. Only these two can fail.
  void Fail(const std::string& operation, const std::string& argument = "", int nth = 0) {
    failures_.Add(operation, argument, nth);
  }

  bool CreateProcessA(const std::string& application, const std::string& currentDirectory,
                      const StartupData& startup, ProcessInformation* info) override {
    log_->Add("CreateProcessA(" + application + "," + currentDirectory + ")");
    lastStartup = startup;
    if (!createSucceeds || failures_.ShouldFail("CreateProcessA", application)) return false;
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
    if (!shellSucceeds || failures_.ShouldFail("ShellExecuteExA", file)) return false;
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
  FailureSet failures_;
  int process_ = 0, thread_ = 0, shellProcess_ = 0;
};

class FakeWindow final : public WindowApi {
 public:
  explicit FakeWindow(CallLog* log) : log_(log) {}
  bool createSucceeds = true;
  // Makes matching calls fail; see FailureSet. A failed LoadStringW gives an
  // empty string. The argument matched is always empty.
  void Fail(const std::string& operation, const std::string& argument = "", int nth = 0) {
    failures_.Add(operation, argument, nth);
  }

  std::wstring LoadStringW(uint32_t id, int limit) override {
    log_->Add("LoadStringW(" + std::to_string(id) + "," + std::to_string(limit) + ")");
    if (failures_.ShouldFail("LoadStringW", "")) return std::wstring();
    return L"KesmarSetupWin";
  }
  void RegisterLauncherClass(const std::wstring&) override { log_->Add("RegisterLauncherClass"); }
  bool CreateLauncherWindow(const std::wstring&, const std::wstring&) override {
    log_->Add("CreateLauncherWindow");
    return createSucceeds && !failures_.ShouldFail("CreateLauncherWindow", "");
  }
  void HideLauncherWindow() override { log_->Add("HideLauncherWindow"); }

 private:
  CallLog* log_;
  FailureSet failures_;
};

}  // namespace kesmar::testing
