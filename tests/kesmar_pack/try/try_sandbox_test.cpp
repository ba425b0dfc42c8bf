// kesmar-pack try's sandbox against a stand-in wine that means harm, no Wine run: what each hostile run tries, and what must not happen on the host; try killed with SIGKILL mid-run; a machine without bubblewrap.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "kesmar_pack/try/child_process.h"
#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/sandbox.h"

namespace kesmar::testing {
namespace {

namespace fs = std::filesystem;

// wine as try calls it. Outside the sandbox: --version, and wineboot and
// --settle for the template. Inside: the watched run, which says where the
// temporary folder is, that the launcher started, does HARM, and ends.
constexpr char kHostileWine[] = R"sh(#!/bin/sh
case "$1" in
  --version) echo "wine-8.0 (hostile stand-in)"; exit 0 ;;
  wineboot)
    mkdir -p "$WINEPREFIX/drive_c/users/me/Temp" "$WINEPREFIX/dosdevices"
    ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
    ln -s / "$WINEPREFIX/dosdevices/z:"
    for hive in system user userdef; do printf 'WINE REGISTRY Version 2\n' >"$WINEPREFIX/$hive.reg"; done
    exit 0 ;;
esac
[ "$2" = --settle ] && exit 0
printf 'temp\tC:\\users\\me\\Temp\\\n'
read -r go
printf 'start\t40\n'
HARM
printf 'done\t10\t0\n'
)sh";

std::string Read(const fs::path& path) {
  std::string text;
  ReadWholeFile(path.string(), &text);
  return text;
}

// Every process of the machine whose command line holds `token`.
std::vector<int> ProcessesWith(const std::string& token) {
  std::vector<int> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline");
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& c : line) c = c == '\0' ? ' ' : c;
    if (line.find(token) != std::string::npos && std::to_string(::getpid()) != name) found.push_back(std::stoi(name));
  }
  return found;
}

// The contents of every file under `root`, path by path.
std::map<std::string, std::string> Contents(const fs::path& root) {
  std::map<std::string, std::string> all;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) all[entry.path().string()] = Read(entry.path());
  }
  return all;
}

class TrySandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = SandboxProblem();
    if (!missing.empty()) GTEST_SKIP() << missing;
    root_ = dir_.path();
    // The stand-in lies beside kesmar-pack, wherever the build is: the sandbox
    // shows the folder of the wine that PATH finds, if it would hide it.
    bin_ = fs::path(KESMAR_PACK_PROGRAM).parent_path() / ("try-sandbox-bin-" + std::to_string(::getpid()));
    fs::create_directories(bin_);
    std::ofstream(bin_ / "wineserver") << "#!/bin/sh\nexit 0\n";
    fs::permissions(bin_ / "wineserver", fs::perms(0755));
    fs::create_directories(root_ / "tool");
    fs::copy_file(KESMAR_PACK_PROGRAM, root_ / "tool/kesmar-pack");
    dir_.Write("tool/kesmar-try-watch.exe", "");
    dir_.Write("Setup.exe", PeImage("payload"));
    fs::create_directories(root_ / "tmp");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!bin_.empty()) fs::remove_all(bin_, ignored);
  }

  void WriteWine(const std::string& harm) {
    std::string script = kHostileWine;
    script.replace(script.find("HARM"), 4, harm);
    std::ofstream(bin_ / "wine", std::ios::trunc) << script;
    fs::permissions(bin_ / "wine", fs::perms(0755));
  }

  // kesmar-pack try as a user would start it, with a secret in its environment.
  ChildOptions Try(const std::vector<std::string>& extra, const std::string& path = "") {
    ChildOptions options;
    options.argv = {(root_ / "tool/kesmar-pack").string(), "try", (root_ / "Setup.exe").string(), "--timeout", "30",
                    "--json", (root_ / "r.json").string()};
    options.argv.insert(options.argv.end(), extra.begin(), extra.end());
    options.environment = {"PATH=" + (path.empty() ? bin_.string() + ":/usr/bin:/bin" : path),
                           "HOME=" + root_.string(), "TMPDIR=" + (root_ / "tmp").string(),
                           "XDG_CACHE_HOME=" + (root_ / "cache").string(), "CI_DEPLOY_TOKEN=tok3n-s3cret"};
    options.pipeOutput = options.pipeErrors = true;
    return options;
  }

  int RunTry(const ChildOptions& options, std::string* output) {
    int status = -1;
    std::string problem;
    EXPECT_TRUE(RunToEnd(options, TryClock::now() + std::chrono::seconds(90), &status, output, &problem)) << problem;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  TempDir dir_;
  fs::path root_, bin_;
};

TEST_F(TrySandbox, AHostileRunLeavesTheMachineAsItWas) {
  // A listener on the host's loopback, for the run to try.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  const std::string host = root_.string();

  // The template is made by the first run; a later run must not find it changed.
  WriteWine(":");
  std::string output;
  RunTry(Try({}), &output);
  ASSERT_TRUE(fs::exists(root_ / "cache/kesmar-pack")) << output;
  const auto pristine = Contents(root_ / "cache");

  struct Row {
    const char* what;
    std::string harm;  // shell, inside the sandbox
    std::function<void(const std::string& json)> check;  // on the host, after the run
  } rows[] = {
      {"a file written through Z: and into host folders",
       "for to in \"$WINEPREFIX/dosdevices/z:" + host + "/escaped\" " + host + "/escaped /etc/kesmar-escaped "
           "/var/tmp/kesmar-escaped /root/kesmar-escaped; do echo x >\"$to\"; done 2>/dev/null",
       [&](const std::string&) {
         for (const std::string& path : {host + "/escaped", std::string("/etc/kesmar-escaped"),
                                        std::string("/var/tmp/kesmar-escaped"), std::string("/root/kesmar-escaped")}) {
           EXPECT_FALSE(fs::exists(path)) << path;
         }
       }},
      {"a variable of try's environment read",
       "touch \"$WINEPREFIX/drive_c/leak-${CI_DEPLOY_TOKEN}-\"; env >\"$WINEPREFIX/drive_c/env.txt\"",
       [&](const std::string& json) {
         EXPECT_NE(json.find("leak--"), std::string::npos) << "the run's file is reported\n" << json;
         EXPECT_EQ(json.find("tok3n-s3cret"), std::string::npos) << json;
       }},
      {"the template changed",
       "for f in " + host + "/cache/kesmar-pack/*/churn " + host + "/cache/kesmar-pack/*/prefix/system.reg; do "
           "echo poisoned >>\"$f\"; done 2>/dev/null; rm -rf " + host + "/cache 2>/dev/null",
       [&](const std::string&) { EXPECT_EQ(Contents(root_ / "cache"), pristine); }},
      {"a Linux program left running",
       "setsid sleep 6101 >/dev/null 2>&1 </dev/null & nohup sleep 6102 >/dev/null 2>&1 </dev/null &",
       [&](const std::string&) {
         EXPECT_TRUE(ProcessesWith("sleep 6101").empty());
         EXPECT_TRUE(ProcessesWith("sleep 6102").empty());
       }},
      {"a connection to a listener on 127.0.0.1",
       "python3 -c 'import socket; socket.create_connection((\"127.0.0.1\", " + port + "), 2).send(b\"x\")' "
           ">/dev/null 2>&1; printf 'GET /\\r\\n' >/dev/tcp/127.0.0.1/" + port + " 2>/dev/null",
       [&](const std::string&) {
         sockaddr_in peer{};
         socklen_t size = sizeof peer;
         EXPECT_LT(::accept(listener, reinterpret_cast<sockaddr*>(&peer), &size), 0) << "a connection came in";
       }},
  };
  for (const Row& row : rows) {
    WriteWine(row.harm);
    fs::remove(root_ / "r.json");
    RunTry(Try({}), &output);
    const std::string json = Read(root_ / "r.json");
    EXPECT_NE(json.find("\"isolated\": true"), std::string::npos) << row.what << "\n" << output << json;
    row.check(json);
    EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << row.what << ": the run's folder is left";
  }
  ::close(listener);
}

TEST_F(TrySandbox, NothingOfARunOutlivesTryKilledWithSigkill) {
  WriteWine("setsid sleep 6201 >/dev/null 2>&1 </dev/null & exec sleep 6202");
  ChildProcess run;
  std::string problem;
  ASSERT_TRUE(run.Start(Try({}), &problem)) << problem;
  const auto start = TryClock::now();
  while (ProcessesWith("sleep 6202").empty() && TryClock::now() - start < std::chrono::seconds(60)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(ProcessesWith("sleep 6202").empty()) << "the run did not start";
  ::kill(run.pid(), SIGKILL);
  int status = 0;
  while (!run.Ended(&status)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int i = 0; i < 50 && !(ProcessesWith("sleep 620").empty() && ProcessesWith("bwrap").empty()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(ProcessesWith("sleep 6201").empty() && ProcessesWith("sleep 6202").empty());
  EXPECT_TRUE(ProcessesWith((root_ / "tmp").string()).empty()) << "a process of the run's folder lives on";
  // The dead try's folder is still there; the next run takes it away.
  ASSERT_FALSE(fs::is_empty(root_ / "tmp"));
  WriteWine(":");
  std::string output;
  RunTry(Try({}), &output);
  EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << output;
}

TEST_F(TrySandbox, SaysWhenNoSandboxCanBeMadeAndWhenTheRunWasNotIsolated) {
  WriteWine(":");
  std::string output;
  // No bubblewrap on this PATH; wine and wineserver are there.
  fs::create_directories(root_ / "nobwrap");
  for (const char* name : {"wine", "wineserver"}) fs::copy(bin_ / name, root_ / "nobwrap" / name);
  for (const char* name : {"mkdir", "ln"}) fs::create_symlink(fs::path("/bin") / name, root_ / "nobwrap" / name);
  EXPECT_EQ(RunTry(Try({}, (root_ / "nobwrap").string()), &output), 1);
  EXPECT_EQ(output, "kesmar-pack try: no sandbox can be made: bubblewrap is not installed (install bubblewrap), or "
                    "run with --no-sandbox\n");
  EXPECT_NE(Read(root_ / "r.json").find("\"isolated\": false"), std::string::npos);

  RunTry(Try({"--no-sandbox"}, (root_ / "nobwrap").string()), &output);
  EXPECT_NE(output.find("none (--no-sandbox): the run was not isolated"), std::string::npos) << output;
  EXPECT_NE(Read(root_ / "r.json").find("\"isolated\": false"), std::string::npos);
  RunTry(Try({"--network"}), &output);
  EXPECT_NE(Read(root_ / "r.json").find("\"network\": true"), std::string::npos) << output;
}

}  // namespace
}  // namespace kesmar::testing
