// kesmar-pack try's refusals before anything runs: bad usage, a file that is no program, outputs it cannot write, no Wine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "kesmar_pack/cli/pack_tool.h"
#include "kesmar_pack/try/file_tree.h"

namespace kesmar::testing {
namespace {

// PATH for one test; what it was comes back afterwards.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) {
    if (const char* old = ::getenv("PATH")) old_ = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

TEST(TryCommand, RefusesBeforeRunningAnything) {
  TempDir dir;
  dir.Write("Setup.exe", PeImage("payload"));
  dir.Write("Bare.exe", ProgramImage());  // a Windows program, and no launcher
  dir.Write("notes.exe", "hello");
  dir.Write("kept/x", "");
  std::string cut = ProgramImage();
  PutLe16(&cut, 0x40 + 6, 1);  // a section, whose header the file ends before
  dir.Write("cut.exe", cut);
  dir.Write("Setup64.dll", ProgramImage(0x8664, 0x2102));
  const std::string at = dir.path().string() + "/";
  const std::string setup = at + "Setup.exe";
  struct Case {
    std::vector<std::string> args;
    std::string path;  // PATH meanwhile; empty: as it is
    int code;
    std::string said;  // the start of the line on stderr, after "kesmar-pack "
  } cases[] = {
      {{"try"}, "", 2, ": try: FILE is required"},
      {{"try", setup, "--timeout", "0"}, "", 2, ": try: --timeout: Value 0 not in range"},
      {{"try", setup, "--timeout", "soon"}, "", 2, ": try: --timeout"},
      {{"try", setup, "--json", ""}, "", 2, ": try: --json"},
      {{"try", setup, "--codepage", "1252"}, "", 2, ": try: The following argument"},
      {{"try", at + "missing.exe"}, "", 1, " try: " + at + "missing.exe: "},
      {{"try", at + "notes.exe"}, "", 1,
       " try: " + at + "notes.exe: it is not a Windows program for x86 or x64: it does not start with \"MZ\"; nothing "
       "was run"},
      {{"try", at + "cut.exe"}, "", 1, " try: " + at + "cut.exe: it is not a Windows program for x86 or x64: section"},
      {{"try", at + "Setup64.dll"}, "", 1,
       " try: " + at + "Setup64.dll: it is not a Windows program for x86 or x64: a DLL"},
      {{"try", at + "Bare.exe"}, "", 1,
       " try: " + at + "Bare.exe: a PE file but no launcher payload: no resources; nothing was run (--any runs it "
       "all the same)"},
      {{"try", at + "Bare.exe", "--any"}, at + "empty", 1, " try: wine is not installed"},
      {{"try", setup, "--keep", at + "kept"}, "", 1, " try: " + at + "kept: is there already"},
      {{"try", setup, "--keep", at + "no/such"}, "", 1, " try: " + at + "no/such: its folder is not there"},
      {{"try", setup, "--json", at + "no/try.json"}, "", 1, " try: " + at + "no/try.json: "},
      {{"try", setup, "--screenshot", at + "kept"}, "", 1, " try: " + at + "kept: "},
      {{"try", setup}, at + "empty", 1, " try: wine is not installed: install wine and wine32:i386"},
  };
  const std::string json = at + "record.json";
  for (const Case& c : cases) {
    // A refusal after the options were read leaves its record in --json's file too.
    for (const bool withJson : {false, true}) {
      std::vector<std::string> args = c.args;
      const bool refusedRun = c.code == 1 && std::find(args.begin(), args.end(), "--json") == args.end();
      if (withJson && !refusedRun) continue;
      if (withJson) args.insert(args.end(), {"--json", json});
      std::ostringstream out, err;
      int code;
      {
        ScopedPath path(c.path.empty() ? (::getenv("PATH") ? ::getenv("PATH") : "") : c.path);
        code = RunKesmarPack(args, out, err, false);
      }
      const std::string what = c.args.back(), said = err.str();
      EXPECT_EQ(code, c.code) << what << ": " << said;
      EXPECT_EQ(said.rfind("kesmar-pack" + c.said, 0), 0u) << what << ": " << said;
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << what << ": " << said;
      EXPECT_EQ(out.str(), "") << what;
      std::string record;
      const bool written = ReadWholeFile(json, &record);
      EXPECT_EQ(written, withJson) << what;
      if (!written) continue;
      std::remove(json.c_str());
      // The reason, as said on stderr, is the one problem.
      const std::string reason = said.substr(said.find("try: ") + 5, said.size() - said.find("try: ") - 6);
      std::string quoted;
      for (char ch : reason) quoted += ch == '"' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
      EXPECT_NE(record.find("\"problems\": [\"" + quoted + "\"],"), std::string::npos) << what << record;
      EXPECT_NE(record.find("\"problem\": \"" + quoted + "\","), std::string::npos) << what << record;
      EXPECT_NE(record.find("\"started\": false,"), std::string::npos) << what;
    }
  }
}

}  // namespace
}  // namespace kesmar::testing
