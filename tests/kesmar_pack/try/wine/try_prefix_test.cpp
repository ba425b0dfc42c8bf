// try's view of a Wine prefix: registry files read, compared and edited; drive_c compared; churn, temporary folder and fonts picked out.
#include <gtest/gtest.h>

#include "kesmar_pack/try/wine/prefix_changes.h"
#include "kesmar_pack/try/wine/wine_registry.h"

namespace kesmar::testing {
namespace {

RegistryTree Parse(const std::string& text, const std::string& root = "HKCU") {
  RegistryTree tree;
  ParseWineRegistry(text, root, &tree);
  return tree;
}

TEST(WineRegistry, ReadsWhatWineWrites) {
  struct Case {
    const char* what;
    std::string text;
    RegistryTree expected;
  } cases[] = {
      {"header, times, escapes, default value",
       "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n#arch=win64\n\n"
       "[Software\\\\Kesmar\\\\Try] 1700000000\n#time=1d9a2b3c4d5e6f7\n@=\"text\"\n"
       "\"Path\"=\"C:\\\\Program Files\"\n\"Say \\\"hi\\\"\"=dword:0000002a\n\"a=b\"=str(2):\"%TEMP%\"\n",
       {{"HKCU\\Software\\Kesmar\\Try",
         {{"(default)", "\"text\""}, {"Path", "\"C:\\\\Program Files\""}, {"Say \"hi\"", "dword:0000002a"},
          {"a=b", "str(2):\"%TEMP%\""}}}}},
      {"binary data over lines, CRLF line ends",
       "[Blob] 1\r\n\"Data\"=hex:01,02,\\\r\n  03,04\r\n\"Next\"=\"x\"\r\n",
       {{"HKCU\\Blob", {{"Data", "hex:01,02,03,04"}, {"Next", "\"x\""}}}}},
      {"a key without values, a value before any key, a broken line",
       "\"Stray\"=\"x\"\n[Empty] 1\n\n[Other] 1\n\"unclosed=\"x\"\nnot a value\n",
       {{"HKCU\\Empty", {}}, {"HKCU\\Other", {}}}},
      {"cut short inside binary data", "[Cut] 1\n\"Data\"=hex:01,\\", {{"HKCU\\Cut", {{"Data", "hex:01,"}}}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.text), c.expected) << c.what;
}

TEST(WineRegistry, ComparesKeysAndValues) {
  const RegistryTree before = {{"HKCU\\Gone", {{"v", "\"1\""}}},
                               {"HKCU\\Kept", {{"same", "\"1\""}, {"changed", "\"old\""}, {"removed", "\"x\""}}}};
  const RegistryTree after = {{"HKCU\\Kept", {{"same", "\"1\""}, {"changed", "\"new\""}, {"added", "dword:1"}}},
                              {"HKCU\\New", {{"(default)", "\"d\""}}}};
  const RegistryChanges changes = CompareRegistry(before, after);
  EXPECT_EQ(changes.keysAdded, std::vector<std::string>{"HKCU\\New"});
  EXPECT_EQ(changes.keysRemoved, std::vector<std::string>{"HKCU\\Gone"});
  std::vector<std::string> values;
  for (const auto& v : changes.values) values.push_back(v.key + "|" + v.name + "|" + v.before + "|" + v.after);
  EXPECT_EQ(values, (std::vector<std::string>{"HKCU\\Gone|v|\"1\"|", "HKCU\\Kept|changed|\"old\"|\"new\"",
                                              "HKCU\\Kept|removed|\"x\"|", "HKCU\\Kept|added||dword:1",
                                              "HKCU\\New|(default)||\"d\""}));
  EXPECT_TRUE(CompareRegistry(after, after).empty());
}

TEST(WineRegistry, SetsAValueWhereWineWillReadIt) {
  const std::string drivers = "WINE REGISTRY Version 2\n\n[Software\\\\Wine\\\\Drivers] 1\n#time=1\n\"Other\"=\"o\"\n"
                              "\"Graphics\"=\"x11\"\n\n[Software\\\\Wine\\\\Later] 1\n\"Graphics\"=\"keep\"\n";
  struct Case {
    const char* what;
    std::string text;
    const char* key;
  } cases[] = {
      {"replaces the value in its key, not in the next", drivers, "Software\\Wine\\Drivers"},
      {"finds the key in any letter case", drivers, "software\\wine\\DRIVERS"},
      {"adds the value to a key that lacks it", "[Software\\\\Wine\\\\Drivers] 1\n#time=1\n\"Other\"=\"o\"\n",
       "Software\\Wine\\Drivers"},
      {"adds the key", "WINE REGISTRY Version 2\n\n[Software\\\\Wine] 1\n\"Other\"=\"o\"", "Software\\Wine\\Drivers"},
  };
  for (const Case& c : cases) {
    const RegistryTree before = Parse(c.text);
    RegistryTree after = Parse(SetWineRegistryValue(c.text, c.key, "Graphics", "\"null\""));
    // Exactly one value differs, in the key as the file spells it.
    RegistryTree expected = before;
    std::string key = "HKCU\\Software\\Wine\\Drivers";
    expected[key]["Graphics"] = "\"null\"";
    EXPECT_EQ(after, expected) << c.what;
  }
}

TEST(WineRegistry, ShowsStringsAsText) {
  EXPECT_EQ(ShownRegistryData("\"C:\\\\Kesmar \\\"x\\\"\""), "C:\\Kesmar \"x\"");
  EXPECT_EQ(ShownRegistryData("dword:0000002a"), "dword:0000002a");
  EXPECT_EQ(ShownRegistryData("\""), "\"");
}

FileState File(uint64_t size, int64_t modified) {
  FileState state;
  state.size = size;
  state.modified = modified;
  return state;
}

FileState Of(char type, const std::string& target = "") {
  FileState state;
  state.type = type;
  state.target = target;
  return state;
}

TEST(PrefixChanges, ComparesDriveC) {
  const FileTree before = {{"gone.txt", File(1, 1)},      {"grown.txt", File(1, 1)},
                           {"touched.ini", File(5, 1)},  {"rewritten.ini", File(5, 1)},
                           {"old", Of('d')},              {"link", Of('l', "a")},
                           {"became.dir", File(1, 1)},    {"same.dll", File(9, 1)}};
  const FileTree after = {{"grown.txt", File(2, 1)},      {"touched.ini", File(5, 2)},
                          {"rewritten.ini", File(5, 2)}, {"link", Of('l', "b")},
                          {"became.dir", Of('d')},        {"same.dll", File(9, 1)},
                          {"new", Of('d')},               {"new/file", File(3, 3)}};
  std::vector<std::string> asked;
  const FileChanges changes = CompareFiles(before, after, [&](const std::string& path) {
    asked.push_back(path);
    return path == "touched.ini";  // written again with the same bytes
  });
  EXPECT_EQ(changes.created, (std::vector<std::string>{"new/", "new/file"}));
  EXPECT_EQ(changes.changed, (std::vector<std::string>{"became.dir", "grown.txt", "link", "rewritten.ini"}));
  EXPECT_EQ(changes.removed, (std::vector<std::string>{"gone.txt", "old/"}));
  // Only files of the same size with another time are read.
  EXPECT_EQ(asked, (std::vector<std::string>{"rewritten.ini", "touched.ini"}));
}

TEST(PrefixChanges, LeavesOutWineChurn) {
  WineChurn measured;
  measured.files = {"windows/system.ini"};
  measured.keys = {"HKCU\\Software\\Wine\\Fonts\\Cache"};
  measured.values = {{"HKLM\\Software\\Wine", "Counter"}};
  WineChurn churn;
  ASSERT_TRUE(WineChurn::Parse(measured.Serialize(), &churn));
  EXPECT_EQ(churn.Serialize(), measured.Serialize());
  EXPECT_FALSE(WineChurn::Parse("another file\n", &churn));
  EXPECT_FALSE(WineChurn::Parse("kesmar-pack wine churn 1\nkind\tx\n", &churn));
  ASSERT_TRUE(WineChurn::Parse(measured.Serialize(), &churn));

  FileChanges files;
  files.changed = {"windows/system.ini", "windows/win.ini"};
  RegistryChanges registry;
  registry.keysAdded = {"HKCU\\Software\\Wine\\Fonts\\Cache", "HKCU\\Software\\Kesmar", "HKCU\\Software\\Wine\\WineDbg",
                        "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968}\\0001"};
  registry.keysRemoved = {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
                          "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCardsOfMine"};
  registry.values = {{"HKLM\\Software\\Wine", "Counter", "1", "2"},
                     {"HKLM\\Software\\Wine", "Other", "1", "2"},
                     {"HKLM\\System\\ControlSet001\\Enum\\PCI\\X", "Driver", "", "\"d\""},
                     {"HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", "", "dword:00000000"}};
  LeaveOutChurn(churn, &files, &registry);
  EXPECT_EQ(files.changed, std::vector<std::string>{"windows/win.ini"});
  EXPECT_EQ(registry.keysAdded, std::vector<std::string>{"HKCU\\Software\\Kesmar"});
  EXPECT_EQ(registry.keysRemoved,
            std::vector<std::string>{"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCardsOfMine"});
  ASSERT_EQ(registry.values.size(), 1u);
  EXPECT_EQ(registry.values[0].name, "Other");
}

TEST(PrefixChanges, TakesOutTheTemporaryFolder) {
  FileChanges files;
  files.created = {"users/me/Temp/kesmars0/", "users/me/Temp/kesmars0/a.txt", "users/me/TempOther/b.txt"};
  files.changed = {"users/me/Temp/log.txt", "windows/win.ini"};
  files.removed = {"users/me/Temp/old.txt", "users/me/old.txt"};
  EXPECT_EQ(TakeFolder("users/me/Temp", &files),
            (std::vector<std::string>{"kesmars0/", "kesmars0/a.txt", "log.txt"}));
  EXPECT_EQ(files.created, std::vector<std::string>{"users/me/TempOther/b.txt"});
  EXPECT_EQ(files.changed, std::vector<std::string>{"windows/win.ini"});
  EXPECT_EQ(files.removed, std::vector<std::string>{"users/me/old.txt"});
}

TEST(PrefixChanges, FindsTheFontsInstalled) {
  FileChanges files;
  files.created = {"windows/Fonts/A.ttf", "users/me/AppData/Local/Microsoft/Windows/Fonts/B.ttf",
                   "windows/FontsOld/C.ttf", "users/me/Documents/Fonts/D.ttf"};
  files.changed = {"windows/fonts/E.TTF", "windows/win.ini"};
  RegistryChanges registry;
  registry.values = {
      {"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", "B (True Type)", "", "\"C:\\\\B.ttf\""},
      {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", "Gone (True Type)", "\"g.ttf\"", ""},
      {"HKCU\\Software\\Kesmar", "Fonts", "", "\"x\""}};
  const std::string before = "[windows]\nload=\n[Fonts]\nOld (True Type)=old.ttf\nSame=s.ttf\n";
  const std::string after = "[windows]\nload=\n[Fonts]\nOld (True Type)=new.ttf\r\nSame=s.ttf\n"
                            "A (True Type)=A.ttf\n[other]\nX (True Type)=x.ttf\n";
  const FontChanges fonts = FindFontChanges(files, registry, before, after);
  EXPECT_EQ(fonts.files, (std::vector<std::string>{"C:\\users\\me\\AppData\\Local\\Microsoft\\Windows\\Fonts\\B.ttf",
                                                   "C:\\windows\\Fonts\\A.ttf", "C:\\windows\\fonts\\E.TTF"}));
  EXPECT_EQ(fonts.profileEntries, (std::vector<std::string>{"A (True Type)=A.ttf", "Old (True Type)=new.ttf"}));
  EXPECT_EQ(fonts.registryEntries, std::vector<std::string>{"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts: "
                                                            "B (True Type) = C:\\B.ttf"});
}

}  // namespace
}  // namespace kesmar::testing
