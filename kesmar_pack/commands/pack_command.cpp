// PackFolder: the builder over a host folder, told to a person.
#include "kesmar_pack/commands/pack_command.h"

#include <cstdio>
#include <cstring>

#include "builder/build_payload.h"
#include "payload/payload_format.h"
#include "platform/host_files.h"
#include "kesmar_pack/commands/launcher_check.h"
#include "kesmar_pack/commands/pack_input.h"
#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/commands/progress_line.h"

namespace kesmar {
namespace {

// Hears a build and tells a person about it, with paths shown the way the
// user gave them, and the host's separator between the folder and a name.
class PackReport final : public BuildObserver {
 public:
  PackReport(std::ostream& err, bool showProgress, std::string inputFolder, const CodePage& codePage,
             const PackJob& job)
      : err_(err),
        progress_(err, showProgress, "packing"),
        inputFolder_(std::move(inputFolder)),
        separator_(ShownSeparator(job.folder)),
        codePage_(codePage),
        forLauncher_(job.forLauncher),
        warnLongNames_(job.warnLongNames) {}

  void Refused(const std::string& path, const std::string& reason) override {
    progress_.Clear();
    err_ << ShowPath(path) << ": " << reason << '\n';
  }
  void Skipped(const std::string& name, const std::string& why) { Warn(PrintableName(name), why); }
  // For a launcher: first the stream's size, before a byte is read, then the
  // setup program; the container's size is known once it is made.
  bool StreamPlanned(uint64_t size) override {
    return !forLauncher_ || RefuseFor(PayloadSizeProblem(size, 0));
  }
  bool StreamReady(const uint8_t* stream, uint32_t size) override {
    // An old launcher left in the folder would carry its whole payload into
    // the new one.
    PayloadRecord record;
    for (uint32_t offset = 0; offset < size && ReadRecord(stream, size, offset, &record); offset = record.next) {
      if (const char* kind = OwnOutputKind(record.data, record.dataSize)) {
        Warn(ShownRecordName(record.name, codePage_), std::string("is ") + kind + " itself; packed all the same");
      }
    }
    if (warnLongNames_) {
      for (const LongRecordName& name : LongRecordNames(stream, size, codePage_)) Warn(name.shown, name.why);
    }
    return !forLauncher_ || RefuseFor(LauncherPayloadProblem(stream, size, 0, codePage_));
  }
  void Compressing(uint64_t done, uint64_t total) override {
    total_ = total;
    progress_.Update(done, total);
  }
  void Finish() { progress_.Clear(); }
  uint64_t total() const { return total_; }

 private:
  // The builder names the folder, the output, or folder + "\\" + file name;
  // the output is shown as given, and a file name as it is, even if it holds
  // a backslash itself.
  std::string ShowPath(const std::string& path) const {
    const std::string prefix = inputFolder_ + "\\";
    if (path.compare(0, prefix.size(), prefix) == 0) {
      return inputFolder_ + separator_ + PrintableName(path.substr(prefix.size()));
    }
    return path;
  }

  // `shown` is a file's name as it may be shown.
  void Warn(const std::string& shown, const std::string& why) {
    progress_.Clear();
    err_ << inputFolder_ << separator_ << shown << ": warning: " << why << '\n';
  }

  bool RefuseFor(const std::string& problem) {
    if (problem.empty()) return true;
    progress_.Clear();
    err_ << inputFolder_ << ": " << problem << "; --force writes the launcher all the same\n";
    return false;
  }

  std::ostream& err_;
  ProgressLine progress_;
  std::string inputFolder_;
  char separator_;  // the one the user wrote the folder with
  const CodePage& codePage_;
  bool forLauncher_;
  bool warnLongNames_;
  uint64_t total_ = 0;
};

}  // namespace

int PackFolder(const PackJob& job, const CodePage& codePage, std::ostream& out, std::ostream& err,
               bool showProgress) {
  // "dir/" and "dir" are the same folder; keep messages free of "dir//name".
  // "C:\" is not "C:", though: that is the current folder of drive C.
  std::string inputFolder = job.folder;
  while (inputFolder.size() > 1 && std::strchr(kHostPathSeparators, inputFolder.back()) != nullptr &&
         !(inputFolder.size() == 3 && inputFolder[1] == ':')) {
    inputFolder.pop_back();
  }

  PackReport report(err, showProgress, inputFolder, codePage, job);
  auto files = CreatePackInputFileSystem(job.ownOutput.empty() ? job.output : job.ownOutput,
                                         [&report](const std::string& name, const std::string& why) {
                                           report.Skipped(name, why);
                                         });
  const bool built = BuildPayload(*files, inputFolder, job.output, &report, &codePage);
  report.Finish();
  if (!built) return kToolFailed;
  if (job.summary) {
    const uint64_t written = InspectPath(job.output).size;
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%.1f%%",
                  report.total() == 0 ? 0.0 : 100.0 * double(written) / double(report.total()));
    out << job.output << ": " << report.total() << " bytes of records packed into " << written
        << " bytes (" << ratio << ")\n";
  }
  return kToolOk;
}

}  // namespace kesmar
