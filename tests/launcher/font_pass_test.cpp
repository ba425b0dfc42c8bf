// ProcessExtractedFiles and InstallFont against fakes that share one call log.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "launcher/font_pass.h"
#include "platform/platform.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_font_api.h"

namespace kesmar::testing {
namespace {

const std::string kExtracted = "C:\\Temp\\kesmars0";
const std::string kFonts = "C:\\Windows\\Fonts";
const std::string kLocal = "C:\\Users\\user\\AppData\\Local";
const std::string kUserFonts = kLocal + "\\Microsoft\\Windows\\Fonts";
const std::string kUserKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// Extraction folder and Fonts folder on one fake disk, the shell and font
// calls logging into the same log.
struct World {
  World() {
    fs.AddFolder(kExtracted);
    fs.AddFolder(kFonts);
    fs.AddFolder(kLocal);
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
    w.fs.AddFolder("C:\\Fonts");
    w.fonts.SetFontsFolder(folder);
    w.Extracted("A.ttf");
    w.Run();
    EXPECT_EQ(w.fonts.AddedFonts(), std::vector<std::string>{folder + "A.ttf"});
  }
}

// A standard user may not copy into the Fonts folder: the font goes to the
// user's font folder, is added from there and registered under HKCU.
TEST(FontPass, RefusedFontsFolderInstallsForTheUserInThisOrder) {
  World w;
  w.Extracted("A.ttf", "font");
  w.fs.Fail("CopyFileA", kExtracted + "\\A.ttf", 1);
  w.Run();
  const std::string source = kExtracted + "\\A.ttf";
  const std::vector<std::string> expected = {
      "SHGetFolderLocation(20)", "SHGetPathFromIDListA", "CoTaskMemFree",
      "CopyFileA(" + source + "," + kFonts + "\\A.ttf,1)",
      "GetFileAttributesA(" + kFonts + "\\A.ttf)",
      "SHGetFolderPathA(28)", "SHGetFolderPathW(28)",
      "GetFileAttributesA(" + kLocal + "\\Microsoft)",
      "CreateDirectoryA(" + kLocal + "\\Microsoft)",
      "GetFileAttributesA(" + kLocal + "\\Microsoft\\Windows)",
      "CreateDirectoryA(" + kLocal + "\\Microsoft\\Windows)",
      "GetFileAttributesA(" + kUserFonts + ")", "CreateDirectoryA(" + kUserFonts + ")",
      "CopyFileA(" + source + "," + kUserFonts + "\\A.ttf,1)",
      "AddFontResourceA(" + kUserFonts + "\\A.ttf)", "CreateBroadcastThread",
      "RegCreateKeyExA(" + kUserKey + ")", "RegSetValueExA(A (True Type)," + kUserFonts + "\\A.ttf)",
      "DeleteFileA(" + source + ")"};
  EXPECT_EQ(w.log.calls(), expected);
  EXPECT_EQ(w.fs.Content(kUserFonts + "\\A.ttf"), "font");
  EXPECT_EQ(w.fonts.ProfileValue("fonts", "A (True Type)"), "");
}

// What the user's path leaves for two fonts, A and B, when the Fonts folder
// refuses both and something else goes wrong too.
TEST(FontPass, UserFontPathTable) {
  const std::wstring cyrillic = L"C:\\Users\\\u0416\u0435\u043D\u044F\\AppData\\Local";
  const std::string shortLocal = "C:\\Users\\5D0F~1\\AppData\\Local";
  struct Case {
    const char* what;
    std::function<void(World&)> setUp;
    std::string folder;  // where the fonts are added from; empty: not added
    size_t registered;
    std::set<std::string> userFolder = {};  // what the user's font folder holds afterwards
    std::string contentA = "A.ttf";  // of A in the user's font folder, when registered
  };
  const std::set<std::string> both = {kUserFonts + "\\A.ttf", kUserFonts + "\\B.ttf"};
  // The user's font folder already holds an A.ttf of its own.
  const auto installedBefore = [](World& w) {
    w.fs.AddFolder(kLocal + "\\Microsoft");
    w.fs.AddFolder(kLocal + "\\Microsoft\\Windows");
    w.fs.AddFolder(kUserFonts);
    w.fs.AddFile(kUserFonts + "\\A.ttf", "installed before");
  };
  const std::vector<Case> cases = {
      {"both installed", [](World&) {}, kUserFonts, 2, both},
      {"a file already there is kept", installedBefore, kUserFonts, 2, both, "installed before"},
      {"user copy refused", [](World& w) { w.fs.Fail("CopyFileA"); }, "", 0},
      {"no local application data", [](World& w) { w.fonts.Fail("SHGetFolderPathW"); }, "", 0},
      {"a file where a folder should be",
       [](World& w) { w.fs.AddFile(kLocal + "\\Microsoft", ""); }, "", 0},
      {"folder outside the code page: its short form",
       [&](World& w) {
         w.fonts.SetLocalAppData("C:\\Users\\????\\AppData\\Local", cyrillic);
         w.fs.SetShortPath(cyrillic, std::wstring(shortLocal.begin(), shortLocal.end()));
         w.fs.AddFolder(shortLocal);
       },
       shortLocal + "\\Microsoft\\Windows\\Fonts", 2},
      {"no short form",
       [&](World& w) { w.fonts.SetLocalAppData("C:\\Users\\????\\AppData\\Local", cyrillic); },
       "", 0},
      {"registry refused", [](World& w) { w.fonts.Fail("RegCreateKeyExA"); }, kUserFonts, 0, both},
      // A copy the font table refuses would lie there unused for ever.
      {"font table refuses: this run's copies go", [](World& w) { w.fonts.Fail("AddFontResourceA"); }, "", 0},
      {"font table refuses: a file already there stays",
       [&](World& w) {
         installedBefore(w);
         w.fonts.Fail("AddFontResourceA");
       },
       "", 0, {kUserFonts + "\\A.ttf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.Extracted("A.ttf", "A.ttf");
    w.Extracted("B.ttf", "B.ttf");
    for (const std::string name : {"A.ttf", "B.ttf"}) {
      w.fs.Fail("CopyFileA", kExtracted + "\\" + name, 1);
    }
    c.setUp(w);
    w.Run();
    std::vector<std::string> added;
    if (!c.folder.empty()) added = {c.folder + "\\B.ttf", c.folder + "\\A.ttf"};
    EXPECT_EQ(w.fonts.AddedFonts(), added);
    EXPECT_EQ(w.log.Count("CreateBroadcastThread"), added.size());
    size_t registered = 0;
    for (const std::string stem : {"A", "B"}) {
      const std::string value = w.fonts.RegistryValue(kUserKey, stem + " (True Type)");
      if (!value.empty()) {
        EXPECT_EQ(value, c.folder + "\\" + stem + ".ttf");
        EXPECT_EQ(w.fs.Content(value), stem == "A" ? c.contentA : "B.ttf");
        ++registered;
      }
    }
    EXPECT_EQ(registered, c.registered);
    const std::vector<std::string> held = w.fs.Children(kUserFonts);
    EXPECT_EQ(std::set<std::string>(held.begin(), held.end()), c.userFolder);
    EXPECT_EQ(w.log.Count("WriteProfileStringA("), 0u);
    EXPECT_FALSE(w.fs.Exists(kFonts + "\\A.ttf"));
    EXPECT_TRUE(w.fs.Children(kExtracted).empty()) << "the extracted copies are deleted";
  }
}

}  // namespace
}  // namespace kesmar::testing
