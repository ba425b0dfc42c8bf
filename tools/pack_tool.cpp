// Argument handling and the pack command of kesmar-pack.
#include "tools/pack_tool.h"

#include <sys/stat.h>

#include <cstdio>

#include "builder/build_payload.h"
#include "tools/code_page.h"
#include "tools/container_commands.h"
#include "tools/launcher_command.h"
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
    "       kesmar-pack launcher DIR -o OUT.exe\n"
    "                                       pack DIR as pack does and write it into the launcher stub\n"
    "       kesmar-pack launcher --payload FILE -o OUT.exe\n"
    "                                       the same with FILE's container, unchanged; --force embeds\n"
    "                                       one that does not verify; --stub STUB takes another stub\n"
    "       kesmar-pack --help | --version\n"
    "\n"
    "pack, launcher, list, verify and extract take --codepage N: the Windows ANSI code page that the\n"
    "payload's names are stored in (874, 932, 936, 949, 950, 1250-1258; default 1252).\n"
    "Names on this side are UTF-8.\n"
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

// Takes "--codepage N" out of `args` and opens that code page, or the
// default one. Null after a usage message on `err`.
std::unique_ptr<CodePage> TakeCodePage(std::vector<std::string>* args, std::ostream& err) {
  int number = kDefaultCodePage;
  bool given = false;
  for (size_t i = 1; i < args->size(); ++i) {
    if ((*args)[i] != "--codepage") continue;
    if (given) {
      UsageError(err, (*args)[0] + ": --codepage given twice");
      return nullptr;
    }
    const std::string value = i + 1 < args->size() ? (*args)[i + 1] : "";
    if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos) {
      UsageError(err, (*args)[0] + ": --codepage needs a number");
      return nullptr;
    }
    number = std::stoi(value);
    given = true;
    args->erase(args->begin() + long(i), args->begin() + long(i) + 2);
    --i;
  }
  std::string problem;
  std::unique_ptr<CodePage> codePage = CodePage::Open(number, &problem);
  if (!codePage) UsageError(err, (*args)[0] + ": --codepage " + problem);
  return codePage;
}

}  // namespace

int PackFolder(const std::string& folder, const std::string& output, const CodePage& codePage, bool summary,
               std::ostream& out, std::ostream& err, bool showProgress) {
  // "dir/" and "dir" are the same folder; keep messages free of "dir//name".
  std::string inputFolder = folder;
  while (inputFolder.size() > 1 && inputFolder.back() == '/') inputFolder.pop_back();

  auto files = CreateNativeFileSystem();
  PackReport report(err, showProgress, inputFolder);
  const bool built = BuildPayload(*files, inputFolder, output, &report, &codePage);
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

int RunKesmarPack(const std::vector<std::string>& givenArgs, std::ostream& out, std::ostream& err,
                  bool showProgress) {
  if (givenArgs.empty()) {
    std::string problem;
    const auto codePage = CodePage::Open(kDefaultCodePage, &problem);
    if (!codePage) {
      err << "kesmar-pack: " << problem << '\n';
      return kToolFailed;
    }
    return PackFolder(kBuilderInputFolder, kBuilderOutputFile, *codePage, false, out, err, showProgress);
  }
  std::vector<std::string> args = givenArgs;
  const std::string command = args[0];
  std::unique_ptr<CodePage> codePage;
  if (command == "pack" || command == "launcher" || command == "list" || command == "verify" ||
      command == "extract") {
    codePage = TakeCodePage(&args, err);
    if (!codePage) return kToolUsage;
  }
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
    return PackFolder(folder, output, *codePage, true, out, err, showProgress);
  }
  if (command == "launcher") {
    LauncherRequest request;
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string& arg = args[i];
      std::string* value = arg == "-o" ? &request.output : arg == "--payload" ? &request.payloadFile
                           : arg == "--stub" ? &request.stub : nullptr;
      if (value != nullptr) {
        if (!value->empty()) return UsageError(err, "launcher: " + arg + " given twice");
        if (i + 1 == args.size() || args[i + 1].empty()) return UsageError(err, "launcher: " + arg + " needs a file");
        *value = args[++i];
      } else if (arg == "--force") {
        request.force = true;
      } else if (arg.size() > 1 && arg[0] == '-') {
        return UsageError(err, "launcher: unknown option " + arg);
      } else if (!request.folder.empty()) {
        return UsageError(err, "launcher: one folder only");
      } else {
        request.folder = arg;
      }
    }
    if (request.folder.empty() == request.payloadFile.empty()) {
      return UsageError(err, "launcher: a folder or --payload FILE, one of the two");
    }
    if (request.output.empty()) return UsageError(err, "launcher: where to? (-o OUT.exe)");
    if (request.folder.find('\\') != std::string::npos || request.output.find('\\') != std::string::npos) {
      return UsageError(err, "launcher: folder and output names cannot hold a backslash here");
    }
    return MakeLauncher(request, *codePage, out, err, showProgress);
  }
  if (command == "list" || command == "verify") {
    if (args.size() != 2) return UsageError(err, command + ": needs exactly one FILE");
    return command == "list" ? ListPayload(args[1], *codePage, out, err)
                             : VerifyPayload(args[1], *codePage, out, err);
  }
  if (command == "extract") {
    if (args.size() != 3) return UsageError(err, "extract: needs FILE and DIR");
    return ExtractPayloadFile(args[1], args[2], *codePage, out, err, showProgress);
  }
  return UsageError(err, "unknown command \"" + command + "\"");
}

}  // namespace kesmar
