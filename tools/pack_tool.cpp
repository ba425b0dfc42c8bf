// Argument handling and the pack command of kesmar-pack.
#include "tools/pack_tool.h"

#include <sys/stat.h>

#include <cstdio>

#include "builder/build_payload.h"
#include "tools/container_commands.h"
#include "tools/payload_file.h"
#include "tools/progress_line.h"

namespace kesmar {
namespace {

constexpr char kVersion[] = "1.1.5.5";

constexpr char kUsage[] =
    "usage: kesmar-pack                     pack ./finst into ./datakes.lzma, as the launcher's -c does\n"
    "       kesmar-pack pack DIR [-o FILE]  pack the files directly inside DIR into FILE\n"
    "                                       (default datakes.lzma)\n"
    "       kesmar-pack list FILE           list the records of a container or a launcher exe\n"
    "       kesmar-pack verify FILE         check every record and that KesmarSetup.exe is present\n"
    "       kesmar-pack extract FILE DIR    write the records into DIR (new or empty) for inspection;\n"
    "                                       nothing is run or installed\n"
    "       kesmar-pack --help | --version\n"
    "\n"
    "FILE may be a payload container (datakes.lzma) or a built launcher, whose payload\n"
    "is read from its resource RAW 130. Exit codes: 0 done, 1 failed, 2 bad usage.\n"
    "When stderr is a terminal, packing and extracting show their progress there.\n";

int UsageError(std::ostream& err, const std::string& what) {
  err << "kesmar-pack: " << what << " (see kesmar-pack --help)\n";
  return kToolUsage;
}

// Hears a build and tells a person about it, with paths shown the way the
// user gave them: "/" between the folder and a file name.
class PackReport final : public BuildObserver {
 public:
  PackReport(std::ostream& err, bool showProgress, std::string inputFolder)
      : err_(err), progress_(err, showProgress, "packing"), inputFolder_(std::move(inputFolder)) {}

  void Refused(const std::string& path, const std::string& reason) override {
    progress_.Clear();
    err_ << ShowPath(path) << ": " << reason << '\n';
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
      return inputFolder_ + "/" + PrintableName(path.substr(prefix.size()));
    }
    return path;
  }

  std::ostream& err_;
  ProgressLine progress_;
  std::string inputFolder_;
  uint64_t total_ = 0;
};

int Pack(const std::string& folder, const std::string& output, bool summary, std::ostream& out,
         std::ostream& err, bool showProgress) {
  // "dir/" and "dir" are the same folder; keep messages free of "dir//name".
  std::string inputFolder = folder;
  while (inputFolder.size() > 1 && inputFolder.back() == '/') inputFolder.pop_back();

  auto files = CreateNativeFileSystem();
  PackReport report(err, showProgress, inputFolder);
  const bool built = BuildPayload(*files, inputFolder, output, &report);
  report.Finish();
  if (!built) return kToolFailed;
  if (summary) {
    struct stat st;
    const uint64_t written = ::stat(output.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%.1f%%",
                  report.total() == 0 ? 0.0 : 100.0 * double(written) / double(report.total()));
    out << output << ": " << report.total() << " bytes of records packed into " << written
        << " bytes (" << ratio << ")\n";
  }
  return kToolOk;
}

}  // namespace

int RunKesmarPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  bool showProgress) {
  if (args.empty()) {
    return Pack(kBuilderInputFolder, kBuilderOutputFile, false, out, err, showProgress);
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    if (args.size() != 1) return UsageError(err, "--help takes no arguments");
    out << kUsage;
    return kToolOk;
  }
  if (command == "--version") {
    if (args.size() != 1) return UsageError(err, "--version takes no arguments");
    out << "kesmar-pack " << kVersion << '\n';
    return kToolOk;
  }
  if (command == "pack") {
    std::string folder, output = kBuilderOutputFile;
    bool haveFolder = false, haveOutput = false;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "-o") {
        if (haveOutput) return UsageError(err, "pack: -o given twice");
        if (i + 1 == args.size()) return UsageError(err, "pack: -o needs a file name");
        output = args[++i];
        haveOutput = true;
      } else if (args[i].size() > 1 && args[i][0] == '-') {
        return UsageError(err, "pack: unknown option " + args[i]);
      } else if (haveFolder) {
        return UsageError(err, "pack: one folder only");
      } else {
        folder = args[i];
        haveFolder = true;
      }
    }
    if (!haveFolder || folder.empty()) return UsageError(err, "pack: which folder?");
    if (output.empty()) return UsageError(err, "pack: empty output name");
    // The builder separates folder and file with a backslash, which the
    // host's file system turns into "/"; one inside a name would move it.
    if (folder.find('\\') != std::string::npos || output.find('\\') != std::string::npos) {
      return UsageError(err, "pack: folder and output names cannot hold a backslash here");
    }
    return Pack(folder, output, true, out, err, showProgress);
  }
  if (command == "list" || command == "verify") {
    if (args.size() != 2) return UsageError(err, command + ": needs exactly one FILE");
    return command == "list" ? ListPayload(args[1], out, err) : VerifyPayload(args[1], out, err);
  }
  if (command == "extract") {
    if (args.size() != 3) return UsageError(err, "extract: needs FILE and DIR");
    return ExtractPayloadFile(args[1], args[2], out, err, showProgress);
  }
  return UsageError(err, "unknown command \"" + command + "\"");
}

}  // namespace kesmar
