// The pristine Wine prefix that kesmar-pack try copies for every run: made once for each Wine and user, kept in the user's cache folder.
#pragma once

#include <string>

#include "kesmar_pack/try/child_process.h"
#include "kesmar_pack/try/wine/prefix_changes.h"

namespace kesmar {

struct TemplateRequest {
  std::string watchProgram;  // kesmar-try-watch.exe, which the settling starts run
  std::string wineVersion;
  std::string workFolder;    // the run's own folder: the template goes there when no cache folder can be had
};

// A template ready to be copied. It holds a lock that keeps another
// kesmar-pack from replacing the template meanwhile: copy it, then let go.
class PrefixTemplate {
 public:
  PrefixTemplate() = default;
  ~PrefixTemplate() { Release(); }
  PrefixTemplate(const PrefixTemplate&) = delete;
  PrefixTemplate& operator=(const PrefixTemplate&) = delete;

  // Finds the template for this Wine, or makes it: a new prefix
  // (wineboot), links into the home folder made folders, the null graphics
  // driver, one start to settle it and one more to measure what Wine
  // changes by itself at every start. False, with `problem`, when that
  // fails or takes past `deadline`.
  bool Ready(const TemplateRequest& request, TryClock::time_point deadline, std::string* problem);
  void Release();

  const std::string& prefix() const { return prefix_; }
  const WineChurn& churn() const { return churn_; }
  bool made() const { return made_; }

 private:
  std::string prefix_;
  WineChurn churn_;
  bool made_ = false;
  int lock_ = -1;
};

}  // namespace kesmar
