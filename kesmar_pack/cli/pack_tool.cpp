// kesmar-pack's options, parsed with CLI11, and the bare run that packs ./finst.
#include "kesmar_pack/cli/pack_tool.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <memory>

#include "builder/build_payload.h"
#include "platform/host_console.h"
#include "platform/host_files.h"
#include "kesmar_pack/commands/code_page.h"
#include "kesmar_pack/commands/container_commands.h"
#include "kesmar_pack/commands/launcher_check.h"
#include "kesmar_pack/commands/launcher_command.h"
#include "kesmar_pack/commands/pack_input.h"
#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/commands/temporary_files.h"
#include "kesmar_pack/try/try_command.h"

namespace kesmar {
namespace {

constexpr char kVersion[] = "1.1.5.5";

const bool kOnWindows = std::strcmp(kHostSystem, "Windows") == 0;

const std::string kDescription =
    kOnWindows ? "kesmar-pack makes KesmarSetupWin launchers on Windows, and lists, checks and unpacks their payloads."
               : "kesmar-pack makes KesmarSetupWin launchers on Linux, lists, checks and unpacks their payloads, and "
                 "tries them under Wine.";

const std::string kLimits = std::string("a record stream (the files plus 259 bytes each) of at most ") +
                            kLauncherStreamLimitText + "\nin a container of at most " + kLauncherContainerLimitText;

const std::string kFooter =
    "Without a command, kesmar-pack packs the files of ./finst into ./datakes.lzma, as the\n"
    "launcher's -c does on Windows. kesmar-pack COMMAND --help tells more of each command.\n"
    "\n" +
    std::string(kOnWindows ? "Names are stored" : "Names are UTF-8 here and stored") +
    " in a Windows ANSI code page (--codepage N: 874, 932,\n"
    "936, 949, 950, 1250-1258; default 1252). FILE may be a payload container or a\n"
    "launcher, whose payload is its resource RAW 130.\n"
    "A launcher holds " + kLimits + ".\n"
    "When stderr is a terminal, packing and extracting show their progress there.\n"
    "Exit codes: 0 done, 1 failed, 2 bad usage.";

const std::string kLauncherFooter =
    "Refused, with nothing written, unless --force is given: a payload without\n"
    "KesmarSetup.exe (the name exactly, letter case included), a KesmarSetup.exe that is no\n"
    "Windows program for x86 or x64, and more than the 32-bit launcher can hold: it takes\n" +
    kLimits + ".\n"
    "The output and kesmar-pack's own temporary files are never packed, even when they lie\n"
    "in DIR.";

constexpr char kPackFooter[] =
    "Only the files directly inside DIR are packed. Named on stderr as a warning and left\n"
    "out: a subfolder, and an entry that cannot be looked at (a link to nothing). Named as a\n"
    "warning and packed: a file that is itself a launcher or a payload container. Refused,\n"
    "naming the file: a file that cannot be read, names Windows cannot create, two names\n"
    "Windows takes for one file, names the code page cannot hold, files of 4 GiB or more, and\n"
    "a folder with nothing to pack. FILE is written to a new file beside it, then renamed\n"
    "over it; kesmar-pack's own temporary files are never packed, and a failure leaves an\n"
    "existing FILE as it was.";

const std::string kTryFooter =
    "Runs FILE under this machine's Wine (32-bit Wine is needed: Debian's wine32:i386) in a\n"
    "new prefix in $TMPDIR, headless, and reports what it did: the exit code and time, the\n"
    "folder it extracted into and the files written there, the fonts it installed, the setup\n"
    "program it started and how long that ran, what changed under drive_c and in the registry\n"
    "(Wine's own changes left out) and what was left in the temporary folder. The time limit\n"
    "covers the whole run: at the limit, whatever still runs is named with its visible\n"
    "windows' titles and ended. The prefix is removed afterwards, unless --keep names a new\n"
    "folder for it. Each run's prefix is a copy of a template made once for each Wine (about\n"
    "half a minute) and kept in $XDG_CACHE_HOME/kesmar-pack (~/.cache/kesmar-pack); deleting\n"
    "that folder is safe. The run goes in a sandbox that bubblewrap makes: the host read-only,\n"
    "home folders, /root, /tmp and the user's cache and runtime folders hidden, only its own\n"
    "prefix writable, drive Z: that read-only view, only Wine's variables of the environment,\n"
    "no network unless --network, and nothing of it left running once try ends, however it\n"
    "ends; the virtual screen takes only clients with its cookie. Without bubblewrap or user\n"
    "namespaces, try says which and exits 1; --no-sandbox runs without one, and the report\n"
    "and --json say the run was not isolated. A prefix left by a try that died is removed by\n"
    "the next. A file with no launcher payload is refused, as verify would, unless --any is\n"
    "given. A process that crashes is reported at once, with its exception status; Wine's\n"
    "crash dialog is off.\n"
    "Exit codes: 0 when FILE is a launcher that exited with 0 within the limit, its setup\n"
    "program was started and exited with 0, no process of the run crashed and nothing was left\n"
    "in the temporary folder; 1 otherwise, every reason named on the result line and in\n"
    "--json's \"problems\" (the file is written whatever ends the run); 2 bad usage.";

constexpr char kTryFooterWindows[] =
    "try runs on Linux only, where it starts FILE under Wine in a throwaway prefix; here it\n"
    "says so and exits 1. On Windows, try a launcher in a virtual machine of its own.";

int UsageError(std::ostream& err, const std::string& what) {
  err << "kesmar-pack: " << what << " (see kesmar-pack --help)\n";
  return kToolUsage;
}

// The bare run: ./finst into ./datakes.lzma, by the rules of pack.
int PackFinst(std::ostream& out, std::ostream& err, bool showProgress) {
  std::string problem;
  const auto codePage = CodePage::Open(kDefaultCodePage, &problem);
  if (!codePage) {
    err << "kesmar-pack: " << problem << '\n';
    return kToolFailed;
  }
  if (ReportOutputPathProblem(kBuilderOutputFile, err, kBuilderInputFolder)) return kToolFailed;
  PackJob job;
  job.folder = kBuilderInputFolder;
  job.output = kBuilderOutputFile;
  const int code = PackFolder(job, *codePage, out, err, showProgress);
  if (code != kToolOk && InspectPath(kBuilderInputFolder).kind != PathInfo::kFolder) {
    // Someone who typed the name alone may not know of the bare run.
    err << "kesmar-pack: with no command it packs ./finst; kesmar-pack --help lists the commands\n";
  }
  return code;
}

// What the command line asked for.
struct Request {
  std::string folder;
  std::string file;
  std::string output;
  std::string payload;
  std::string stub;
  int codePage = kDefaultCodePage;
  bool force = false;
};

// An empty name would stand for the current folder, or for no file at all.
const CLI::Validator kNamed(
    [](std::string& value) { return value.empty() ? std::string("needs a name, not an empty one") : std::string(); },
    "", "named");

CLI::Option* AddCodePage(CLI::App* command, Request* request) {
  return command->add_option("--codepage", request->codePage,
                             "the Windows code page of the names in the payload (default 1252)")
      ->type_name("N");
}

}  // namespace

int RunKesmarPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  bool showProgress) {
  InstallTemporaryFileCleanup();
  if (args.empty()) return PackFinst(out, err, showProgress);

  Request r;
  CLI::App app(kDescription, "kesmar-pack");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("kesmar-pack ") + kVersion);
  app.require_subcommand(0, 1);
  // "/tmp/x" is a path, on Windows too: options are written with "-" alone.
  app.allow_windows_style_options(false);

  CLI::App* launcher = app.add_subcommand(
      "launcher", "pack DIR as pack does, or take a container, and write it into the launcher stub");
  launcher->footer(kLauncherFooter);
  CLI::Option* launcherFolder = launcher->add_option("DIR", r.folder, "the folder whose files the launcher carries")
                                    ->type_name("")
                                    ->check(kNamed);
  launcher->add_option("-o,--output", r.output, "where the launcher goes")
      ->type_name("OUT.exe")
      ->required()
      ->check(kNamed);
  CLI::Option* payload =
      launcher->add_option("--payload", r.payload, "embed this container (or launcher's payload) unchanged")
          ->type_name("FILE")
          ->check(kNamed);
  payload->excludes(launcherFolder);
  AddCodePage(launcher, &r)->excludes(payload);
  launcher->add_option("--stub", r.stub, "the stub to write into (default: the one installed)")
      ->type_name("STUB")
      ->check(kNamed);
  launcher->add_flag("--force", r.force, "write the launcher even though it could never run");

  CLI::App* pack = app.add_subcommand("pack", "pack the files directly inside DIR into a container file");
  pack->footer(kPackFooter);
  pack->add_option("DIR", r.folder, "the folder to pack")->type_name("")->required()->check(kNamed);
  pack->add_option("-o,--output", r.output, "the container file (default datakes.lzma)")
      ->type_name("FILE")
      ->check(kNamed);
  AddCodePage(pack, &r);

  CLI::App* list = app.add_subcommand("list", "show name, size and offset of every record, and the totals");
  CLI::App* verify = app.add_subcommand(
      "verify", "check every record, and that the launcher could start its KesmarSetup.exe");
  CLI::App* extract =
      app.add_subcommand("extract", "write the records into DIR, new or empty, for a look; nothing is run");
  verify->footer(
      "Besides the records, verify checks what would keep a launcher from ever starting the\n"
      "setup program: KesmarSetup.exe missing, or named in another letter case, no Windows\n"
      "program for x86 or x64, or more than the launcher can hold: it takes\n" + kLimits + ".\n"
      "A name too long to extract under a user's temporary folder is a warning. verify reads\n"
      "a signed launcher's payload but does not check the signature (osslsigncode verify does).");
  list->footer("A name that does not convert from the code page is shown as its bytes, \\xNN.");
  extract->footer("Every record and name is checked before the first file is written.");
  for (CLI::App* command : {list, verify, extract}) {
    command->add_option("FILE", r.file, "a payload container or a launcher")->type_name("")->required()->check(kNamed);
    AddCodePage(command, &r);
  }
  extract->add_option("DIR", r.folder, "where the files go")->type_name("")->required()->check(kNamed);

  TryRequest tryRequest;
  CLI::App* tryCommand = app.add_subcommand(
      "try", std::string(kOnWindows ? "(Linux only) " : "") +
                 "run a launcher under Wine in a throwaway prefix and report what it did");
  tryCommand->footer(kOnWindows ? kTryFooterWindows : kTryFooter);
  tryCommand->add_option("FILE", tryRequest.launcher, "the launcher to run")->type_name("")->required()->check(kNamed);
  tryCommand->add_option("--timeout", tryRequest.timeLimit, "time limit of the whole run (default 300)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400));
  tryCommand->add_option("--keep", tryRequest.keep, "keep the prefix in this new folder")
      ->type_name("DIR")
      ->check(kNamed);
  tryCommand->add_option("--json", tryRequest.json, "write the report's facts as JSON here too")
      ->type_name("FILE")
      ->check(kNamed);
  tryCommand->add_option("--screenshot", tryRequest.screenshot,
                         "run on a virtual screen (Xvfb) and save it here at the time limit")
      ->type_name("FILE.png")
      ->check(kNamed);
  tryCommand->add_flag("--any", tryRequest.any,
                       "run a Windows program that is no launcher all the same (it cannot pass)");
  tryCommand->add_flag("--network", tryRequest.network, "let the run reach the network (the report says so)");
  tryCommand->add_flag("--no-sandbox", tryRequest.noSandbox,
                       "run without bubblewrap's sandbox: the run is not isolated (the report says so)");

  std::vector<std::string> given = args;
  for (std::string& arg : given) {
    // Windows' own way to ask for help; no file can be named so there.
    if (kOnWindows && arg == "/?") arg = "--help";
    // "C:\my folder\" -o x: the backslash keeps the closing quote, and the
    // rest of the line becomes part of the folder's name.
    if (kHostSplitsCommandLine && arg.find('"') != std::string::npos) {
      return UsageError(err, "the argument '" + PrintableName(arg) +
                                 "' holds a '\"': a backslash before a closing quote keeps the quote and joins the "
                                 "arguments after it; end the name without the backslash (\"my folder\") or double "
                                 "it (\"my folder\\\\\")");
    }
  }
  std::vector<std::string> reversed(given.rbegin(), given.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::Success& success) {
    // Help and version take no arguments beside them.
    const std::vector<std::string> stray = app.remaining(true);
    if (!stray.empty()) return UsageError(err, "unexpected " + stray.front() + " beside " + args.front());
    out << (dynamic_cast<const CLI::CallForVersion*>(&success) != nullptr ? std::string(success.what()) + "\n"
                                                                           : app.help());
    return kToolOk;
  } catch (const CLI::ParseError& error) {
    const auto chosen = app.get_subcommands();
    if (chosen.empty()) {
      return UsageError(err, args.front()[0] == '-' ? "unknown option " + args.front() + " before the command"
                                                    : "unknown command \"" + args.front() + "\"");
    }
    return UsageError(err, chosen.front()->get_name() + ": " + error.what());
  }
  if (app.get_subcommands().empty()) return UsageError(err, "which command?");
  CLI::App* command = app.get_subcommands().front();
  const std::string name = command->get_name();
  if (command == tryCommand) return TryLauncher(tryRequest, out, err);

  std::string problem;
  const std::unique_ptr<CodePage> codePage = CodePage::Open(r.codePage, &problem);
  if (!codePage) return UsageError(err, name + ": --codepage " + problem);
  // "-o=x" would name the file "=x".
  if (!r.output.empty() && r.output[0] == '=') {
    return UsageError(err, name + ": -o " + r.output + " would name a file \"" + r.output +
                               "\"; write -o FILE or --output=FILE");
  }
  // The builder separates folder and file with a backslash, which the host's
  // file system turns into "/"; one inside a name would move it. On Windows
  // it is a separator anyway.
  const bool backslashSeparates = std::strchr(kHostPathSeparators, '\\') != nullptr;
  if (!backslashSeparates && (command == pack || command == launcher || command == extract)) {
    if (r.folder.find('\\') != std::string::npos || r.output.find('\\') != std::string::npos) {
      return UsageError(err, name + ": folder and output names cannot hold a backslash here");
    }
  }

  if (command == pack) {
    PackJob job;
    job.folder = r.folder;
    job.output = r.output.empty() ? kBuilderOutputFile : r.output;
    job.summary = true;
    if (ReportOutputPathProblem(job.output, err, job.folder)) return kToolFailed;
    return PackFolder(job, *codePage, out, err, showProgress);
  }
  if (command == launcher) {
    if (r.folder.empty() == r.payload.empty()) {
      return UsageError(err, "launcher: a folder or --payload FILE, one of the two");
    }
    LauncherRequest request;
    request.folder = r.folder;
    request.payloadFile = r.payload;
    request.output = r.output;
    request.stub = r.stub;
    request.force = r.force;
    return MakeLauncher(request, *codePage, out, err, showProgress);
  }
  if (command == list) return ListPayload(r.file, *codePage, out, err);
  if (command == verify) return VerifyPayload(r.file, *codePage, out, err);
  return ExtractPayloadFile(r.file, r.folder, *codePage, out, err, showProgress);
}

}  // namespace kesmar
