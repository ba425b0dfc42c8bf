// kesmar-pack try's refusals before anything runs: bad usage, a file that is no program, outputs it cannot write, no Wine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <sstream>

#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "kesmar_pack/cli/pack_tool.h"

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
  dir.Write("Setup.exe", ProgramImage());
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
      {{"try", setup, "--keep", at + "kept"}, "", 1, " try: " + at + "kept: is there already"},
      {{"try", setup, "--keep", at + "no/such"}, "", 1, " try: " + at + "no/such: its folder is not there"},
      {{"try", setup, "--json", at + "no/try.json"}, "", 1, " try: " + at + "no/try.json: "},
      {{"try", setup, "--screenshot", at + "kept"}, "", 1, " try: " + at + "kept: "},
      {{"try", setup}, at + "empty", 1, " try: wine is not installed: install wine and wine32:i386"},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    int code;
    {
      ScopedPath path(c.path.empty() ? (::getenv("PATH") ? ::getenv("PATH") : "") : c.path);
      code = RunKesmarPack(c.args, out, err, false);
    }
    const std::string what = c.args.back(), said = err.str();
    EXPECT_EQ(code, c.code) << what << ": " << said;
    EXPECT_EQ(said.rfind("kesmar-pack" + c.said, 0), 0u) << what << ": " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << what << ": " << said;
    EXPECT_EQ(out.str(), "") << what;
  }
}

}  // namespace
}  // namespace kesmar::testing
