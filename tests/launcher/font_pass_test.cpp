// ProcessExtractedFiles and InstallFont against fakes that share one call log.
#include <gtest/gtest.h>

#include "launcher/font_pass.h"
#include "platform/platform.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_font_api.h"

namespace kesmar::testing {
namespace {

const std::string kExtracted = "C:\\Temp\\kesmars0";
const std::string kFonts = "C:\\Windows\\Fonts";

// Extraction folder and Fonts folder on one fake disk, the shell and font
// calls logging into the same log.
struct World {
  World() {
    fs.AddFolder(kExtracted);
    fs.AddFolder(kFonts);
    platform.files = &fs;
    platform.fonts = &fonts;
  }
  // A file the extraction wrote: on disk, listed, and named.
  void Extracted(const std::string& name, const std::string& content = "data") {
    fs.AddFile(kExtracted + "\\" + name, content);
    list.AddFile(kExtracted + "\\" + name);
    names.push_back(name);
  }
  void Run(std::string* setupPath = nullptr) {
    log.Clear();
    ProcessExtractedFiles(platform, names, list, setupPath);
  }

  CallLog log;
  FakeFileSystem fs{&log};
  FakeFontApi fonts{&log};
  Platform platform;
  CleanupList list{fs};
  std::vector<std::string> names;
};

std::vector<std::string> InstallCalls(const std::string& name, const std::string& key) {
  return {"CopyFileA(" + kExtracted + "\\" + name + "," + kFonts + "\\" + name + ",1)",
          "AddFontResourceA(" + kFonts + "\\" + name + ")", "CreateBroadcastThread",
          "WriteProfileStringA(fonts," + key + "," + name + ")",
          "DeleteFileA(" + kExtracted + "\\" + name + ")"};
}

TEST(FontPass, InstallsNewestFirstWithOneLookupAndOneBroadcastEach) {
  World w;
  for (const char* name : {"A.ttf", "B.ttf", "readme.txt", "C.ttf"}) w.Extracted(name, name);
  w.Run();
  std::vector<std::string> expected = {"SHGetFolderLocation(20)", "SHGetPathFromIDListA",
                                       "CoTaskMemFree"};
  for (const std::string stem : {"C", "B", "A"}) {
    const auto calls = InstallCalls(stem + ".ttf", stem + " (True Type)");
    expected.insert(expected.end(), calls.begin(), calls.end());
  }
  EXPECT_EQ(w.log.calls(), expected);
  EXPECT_EQ(w.fs.Content(kFonts + "\\B.ttf"), "B.ttf");
  EXPECT_TRUE(w.fs.Exists(kExtracted + "\\readme.txt"));
  EXPECT_EQ(w.list.FileCount(), 4u);  // the pass never changes the list
}

// What one extracted file of a given name leads to.
TEST(FontPass, NameRules) {
  struct Case {
    std::string name;
    std::string key;  // empty: not installed
    bool setupProgram;
  };
  const std::vector<Case> cases = {
      {"Sample.TTF", "Sample (True Type)", false},
      {"sample.Ttf", "sample (True Type)", false},
      {".ttf", " (True Type)", false},
      {"archive.tar.ttf", "archive.tar (True Type)", false},
      {"font.ttf.bak", "", false},
      {"font.ttf.", "", false},
      {"fontttf", "", false},
      {"font.ttf ", "", false},
      {"KesmarSetup.exe", "", true},
      {"kesmarsetup.exe", "", false},
      {"KesmarSetup.EXE", "", false},
      {"KesmarSetup.exe ", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("name \"" + c.name + "\"");
    World w;
    w.Extracted(c.name);
    const std::string path = kExtracted + "\\" + c.name;
    std::string setupPath = "unchanged";
    w.Run(&setupPath);
    EXPECT_EQ(setupPath, c.setupProgram ? path : "unchanged");
    EXPECT_EQ(w.fonts.ProfileValue("fonts", c.key), c.key.empty() ? "" : c.name);
    EXPECT_EQ(w.fonts.AddedFonts().size(), c.key.empty() ? 0u : 1u);
    EXPECT_EQ(w.fs.Exists(path), c.key.empty());
  }
}

TEST(FontPass, FirstSetupProgramInExtractionOrderWins) {
  // Listed under two paths only to tell them apart; in a real run both are the same.
  World w;
  w.Extracted("KesmarSetup.exe");
  w.list.AddFile("C:\\other\\KesmarSetup.exe");
  w.names.push_back("KesmarSetup.exe");
  std::string setupPath;
  w.Run(&setupPath);
  EXPECT_EQ(setupPath, kExtracted + "\\KesmarSetup.exe");
  w.Run(nullptr);  // no output supplied: nothing is written
}

// While the Fonts folder is not known it is looked up again for every font;
// a font without it is not installed, but its extracted copy still goes.
TEST(FontPass, FontsFolderLookupTable) {
  struct Case {
    const char* what;
    const char* failing;
    int nth;
    size_t lookups;
    std::vector<std::string> installed;
  };
  const std::vector<Case> cases = {
      {"never found", "SHGetFolderLocation", 0, 3, {}},
      {"path never readable", "SHGetPathFromIDListA", 0, 3, {}},
      {"found at the second font", "SHGetFolderLocation", 1, 2,
       {kFonts + "\\B.ttf", kFonts + "\\A.ttf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    for (const char* name : {"A.ttf", "B.ttf", "C.ttf"}) w.Extracted(name);
    w.fonts.Fail(c.failing, "", c.nth);
    w.Run();
    EXPECT_EQ(w.log.Count("SHGetFolderLocation("), c.lookups);
    EXPECT_EQ(w.fonts.AddedFonts(), c.installed);
    EXPECT_EQ(w.fonts.OpenItemLists(), 0);
    EXPECT_TRUE(w.fs.Children(kExtracted).empty());
  }
}

TEST(FontPass, ExistingFontIsKeptButStillAddedAndRegistered) {
  World w;
  w.fs.AddFile(kFonts + "\\A.ttf", "installed before");
  w.Extracted("A.ttf", "from the payload");
  w.Run();
  EXPECT_EQ(w.fs.Content(kFonts + "\\A.ttf"), "installed before");
  EXPECT_EQ(w.fonts.AddedFonts(), std::vector<std::string>{kFonts + "\\A.ttf"});
  EXPECT_EQ(w.fonts.ProfileValue("fonts", "A (True Type)"), "A.ttf");
  EXPECT_FALSE(w.fs.Exists(kExtracted + "\\A.ttf"));
}

// A failing step changes nothing about the steps after it.
TEST(FontPass, StepFailuresAreIgnored) {
  for (const char* failing : {"AddFontResourceA", "CreateBroadcastThread", "WriteProfileStringA"}) {
    SCOPED_TRACE(failing);
    World w;
    w.Extracted("A.ttf");
    w.fonts.Fail(failing);
    w.Run();
    const auto& calls = w.log.calls();
    EXPECT_EQ(std::vector<std::string>(calls.end() - 5, calls.end()),
              InstallCalls("A.ttf", "A (True Type)"));
  }
}

TEST(FontPass, FontsFolderEndingInASeparatorGetsNoSecondOne) {
  for (const std::string folder : {"C:\\Fonts\\", "C:/Fonts/"}) {
    World w;
    w.fonts.SetFontsFolder(folder);
    w.Extracted("A.ttf");
    w.Run();
    EXPECT_EQ(w.fonts.AddedFonts(), std::vector<std::string>{folder + "A.ttf"});
  }
}

}  // namespace
}  // namespace kesmar::testing
