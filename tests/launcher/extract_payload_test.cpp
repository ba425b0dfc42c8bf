// ExtractPayload against fakes: the resource, the folder search, the records written, and every refusal.
#include <gtest/gtest.h>

#include <functional>

#include "launcher/extract_payload.h"
#include "platform/platform.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_font_api.h"
#include "tests/fakes/fake_resource_api.h"
#include "tests/fakes/fake_security_api.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

const std::string kTemp = "C:\\Temp";
const std::string kFolder0 = kTemp + "\\kesmars0";

struct World {
  World() {
    ResetFolderCounter();
    fs.AddFolder(kTemp);
    fs.AddFolder("C:\\Windows\\Fonts");
    platform.files = &fs;
    platform.fonts = &fonts;
    platform.resources = &resources;
    platform.security = &security;
  }
  bool Extract() { return ExtractPayload(platform, &setupPath, &workFolder, list); }
  // Nothing on disk under the temporary folder, and the list and outputs as before.
  void ExpectUntouched() {
    EXPECT_TRUE(fs.Children(kTemp).empty());
    EXPECT_EQ(list.FileCount(), 0u);
    EXPECT_EQ(list.Folder(), "");
    EXPECT_EQ(setupPath, "before");
    EXPECT_EQ(workFolder, "before");
  }

  CallLog log;
  FakeFileSystem fs{&log};
  FakeFontApi fonts{&log};
  FakeResourceApi resources{&log};
  FakeSecurityApi security{&log};
  Platform platform;
  CleanupList list{fs};
  std::string setupPath = "before";
  std::string workFolder = "before";
};

TEST(ExtractPayload, WritesEveryRecordListsItAndRunsTheFontPass) {
  World w;
  w.resources.SetPayload(Container(RecordStream({{"readme.txt", "hello"},
                                                 {"empty.dat", ""},
                                                 {"Sans.TTF", "font"},
                                                 {"KesmarSetup.exe", "MZ"}})));
  ASSERT_TRUE(w.Extract());
  const auto& calls = w.log.calls();
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"FindResourceA(#130,RAW)", "LoadResource", "LockResource",
                                      "SizeofResource"}));
  EXPECT_EQ(w.workFolder, kFolder0);
  EXPECT_EQ(w.list.Folder(), kFolder0);
  ASSERT_EQ(w.list.FileCount(), 4u);
  EXPECT_EQ(w.list.FileAt(1), kFolder0 + "\\empty.dat");
  EXPECT_EQ(w.fs.Content(kFolder0 + "\\readme.txt"), "hello");
  EXPECT_TRUE(w.fs.Exists(kFolder0 + "\\empty.dat"));
  EXPECT_EQ(w.setupPath, kFolder0 + "\\KesmarSetup.exe");
  // The font went to the Fonts folder and its extracted copy is gone.
  EXPECT_EQ(w.fs.Content("C:\\Windows\\Fonts\\Sans.TTF"), "font");
  EXPECT_FALSE(w.fs.Exists(kFolder0 + "\\Sans.TTF"));
  EXPECT_EQ(w.log.Count("Write("), 4u);  // one write per file, the empty one included
}

TEST(ExtractPayload, SeparatorIsAddedOnlyWhenTheTempPathLacksOne) {
  for (const std::string temp : {"C:\\Temp\\", "C:\\Temp", "C:/Temp/"}) {
    World w;
    w.fs.SetTempPath(temp);
    w.resources.SetPayload(Container(RecordStream({{"a", "x"}})));
    ASSERT_TRUE(w.Extract());
    EXPECT_EQ(w.workFolder, temp == "C:/Temp/" ? "C:/Temp/kesmars0" : kFolder0);
  }
}

// Existing names are passed over without counting; only failed creations
// count, and the tenth one ends the search.
TEST(ExtractPayload, FolderSearchTable) {
  struct Case {
    const char* what;
    std::function<void(FakeFileSystem&)> setUp;
    bool result;
    std::string folder;
    int counterAfter;
    size_t creations;
  };
  const std::vector<Case> cases = {
      {"first name free", [](FakeFileSystem&) {}, true, kFolder0, 0, 1},
      {"folder and file in the way",
       [](FakeFileSystem& fs) {
         fs.AddFolder(kTemp + "\\kesmars0");
         fs.AddFile(kTemp + "\\kesmars1", "");
       },
       true, kTemp + "\\kesmars2", 2, 1},
      {"thirty names taken",
       [](FakeFileSystem& fs) {
         for (int i = 0; i < 30; ++i) fs.AddFolder(kTemp + "\\kesmars" + std::to_string(i));
       },
       true, kTemp + "\\kesmars30", 30, 1},
      {"nine failures, then success",
       [](FakeFileSystem& fs) {
         for (int i = 0; i < 9; ++i)
           fs.Fail("CreateDirectoryA", kTemp + "\\kesmars" + std::to_string(i));
       },
       true, kTemp + "\\kesmars9", 9, 10},
      {"every creation fails", [](FakeFileSystem& fs) { fs.Fail("CreateDirectoryA"); }, false, "",
       10, 10},
      {"failures around existing names",
       [](FakeFileSystem& fs) {
         fs.AddFolder(kTemp + "\\kesmars0");
         fs.AddFile(kTemp + "\\kesmars3", "");
         fs.Fail("CreateDirectoryA");
       },
       false, "", 12, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.resources.SetPayload(Container(RecordStream({{"a", "x"}})));
    c.setUp(w.fs);
    EXPECT_EQ(w.Extract(), c.result);
    EXPECT_EQ(w.list.Folder(), c.folder);
    EXPECT_EQ(w.list.FileCount(), c.result ? 1u : 0u);
    EXPECT_EQ(FolderCounter(), c.counterAfter);
    EXPECT_EQ(w.log.Count("CreateDirectoryA("), c.creations);
    EXPECT_EQ(w.workFolder, c.result ? c.folder : "before");
  }
}

TEST(ExtractPayload, CounterIsKeptAcrossCalls) {
  World w;
  w.resources.SetPayload(Container(RecordStream({{"a", "x"}})));
  ASSERT_TRUE(w.Extract());
  CleanupList second(w.fs);
  ASSERT_TRUE(ExtractPayload(w.platform, nullptr, nullptr, second));
  EXPECT_EQ(second.Folder(), kTemp + "\\kesmars1");
}

// Every payload that cannot be found, decoded or trusted, and every missing
// temporary folder: false before anything is created.
TEST(ExtractPayload, RefusalsLeaveNothingBehind) {
  const Bytes good = Container(RecordStream({{"a.txt", "abc"}}));
  const Bytes stream = RecordStream({{"a.txt", "abc"}});
  Bytes noZeroInName = Record("b", "");
  noZeroInName.replace(4, 255, std::string(255, 'n'));
  struct Case {
    const char* what;
    Bytes payload;        // empty: no "RAW" #130 at all
    std::string failing;  // a resource or file-system call made to fail
  };
  const std::vector<Case> cases = {
      {"no resource", "", ""},
      {"load fails", good, "LoadResource"},
      {"lock fails", good, "LockResource"},
      {"size 0", good, "SizeofResource"},
      {"not a container", "garbage, not LZMA at all", ""},
      {"container cut short", good.substr(0, 12), ""},
      {"temp path fails", good, "GetTempPathA"},
      {"record runs past the end", Container(stream.substr(0, stream.size() - 1)), ""},
      {"header cut short", Container(stream + Bytes(100, '\0')), ""},
      {"name field without a zero", Container(stream + noZeroInName), ""},
      {"parent folder in a name", Container(RecordStream({{"..\\evil.exe", "x"}})), ""},
      {"slash in a name", Container(RecordStream({{"a/b", "x"}})), ""},
      {"empty name", Container(RecordStream({{"ok", "x"}, {"", "x"}})), ""},
      {"device name", Container(RecordStream({{"con.txt", "x"}})), ""},
      // The stream's block cannot be had in a 32-bit process (on a 64-bit
      // host, the decoder then runs out of input).
      {"stream of 4 GiB less a byte", Bytes(4, '\xff') + good.substr(4), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    if (!c.payload.empty()) w.resources.SetPayload(c.payload);
    if (!c.failing.empty()) {
      w.resources.Fail(c.failing);
      w.fs.Fail(c.failing);
    }
    EXPECT_FALSE(w.Extract());
    w.ExpectUntouched();
    EXPECT_EQ(w.log.Count("CreateDirectoryA("), 0u);
    EXPECT_EQ(FolderCounter(), 0);
  }
}

// The folder's own DACL, and a temporary folder whose name the ANSI code page
// cannot hold. Without a descriptor or a usable path no folder is made.
TEST(ExtractPayload, FolderDescriptorAndTemporaryPathTable) {
  const std::string user = "S-1-5-21-1111-2222-3333-1001";
  const std::string own = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  const std::wstring japanese = L"C:\\Temp\\\u65E5\u672C\u8A9E\\";
  struct Case {
    const char* what;
    std::function<void(World&)> setUp;
    std::string folder;  // empty: false, nothing touched
    std::string sddl;
    size_t shortLookups;
  };
  const std::vector<Case> cases = {
      {"a user", [&](World& w) { w.security.SetUserSid(user); }, kFolder0,
       own + "(A;OICI;FA;;;" + user + ")", 0},
      {"SYSTEM", [](World& w) { w.security.SetUserSid("S-1-5-18"); }, kFolder0, own, 0},
      {"no token user", [](World& w) { w.security.Fail("GetTokenUserSid"); }, "", "", 0},
      {"descriptor refused",
       [](World& w) { w.security.Fail("ConvertStringSecurityDescriptorToSecurityDescriptorA"); },
       "", "", 0},
      {"path within the code page",
       [](World& w) {
         w.fs.AddFolder("C:\\Temp\\Andr\xE9");
         w.fs.SetWideTempPath(L"C:\\Temp\\Andr\u00E9\\");
       },
       "C:\\Temp\\Andr\xE9\\kesmars0", own + "(A;OICI;FA;;;" + user + ")", 0},
      {"path outside the code page: its short form",
       [&](World& w) {
         w.fs.AddFolder("C:\\Temp\\5E72~1");
         w.fs.SetWideTempPath(japanese);
         w.fs.SetShortPath(japanese, L"C:\\Temp\\5E72~1\\");
       },
       "C:\\Temp\\5E72~1\\kesmars0", own + "(A;OICI;FA;;;" + user + ")", 1},
      {"no short form", [&](World& w) { w.fs.SetWideTempPath(japanese); }, "", "", 1},
      {"a short form outside the code page too",
       [&](World& w) {
         w.fs.SetWideTempPath(japanese);
         w.fs.SetShortPath(japanese, japanese);
       },
       "", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.resources.SetPayload(Container(RecordStream({{"a.txt", "abc"}})));
    c.setUp(w);
    EXPECT_EQ(w.Extract(), !c.folder.empty());
    EXPECT_EQ(w.log.Count("GetShortPathNameW("), c.shortLookups);
    if (c.folder.empty()) {
      w.ExpectUntouched();
      EXPECT_EQ(w.log.Count("CreateDirectoryA("), 0u);
      continue;
    }
    EXPECT_EQ(w.workFolder, c.folder);
    EXPECT_EQ(w.fs.FolderSddl(c.folder), c.sddl);
    EXPECT_EQ(w.fs.Content(c.folder + "\\a.txt"), "abc");
  }
}

TEST(ExtractPayload, NamesAreCheckedInTheSystemsCodePage) {
  // "\x83\x5C" is one katakana in code page 932, and "\x83" then "\\" in 1252.
  const Bytes payload = Container(RecordStream({{"\x83\x5C.txt", "1"}, {"KesmarSetup.exe", "MZ"}}));
  World singleByte;
  singleByte.resources.SetPayload(payload);
  EXPECT_FALSE(singleByte.Extract());
  singleByte.ExpectUntouched();

  World japanese;
  LeadBytes lead;
  for (unsigned b = 0x81; b <= 0x9F; ++b) lead.Add(uint8_t(b));
  japanese.fs.SetLeadBytes(lead);
  japanese.resources.SetPayload(payload);
  ASSERT_TRUE(japanese.Extract());
  EXPECT_EQ(japanese.fs.Content(kFolder0 + "\\\x83\x5C.txt"), "1");
}

TEST(ExtractPayload, OnlyTheRawResource130IsRead) {
  const Bytes good = Container(RecordStream({{"a.txt", "abc"}}));
  World w;
  w.resources.Add("#131", "RAW", good);
  w.resources.Add("#130", "DATA", good);
  EXPECT_FALSE(w.Extract());
  w.ExpectUntouched();
}

TEST(ExtractPayload, TempPathLongerThanTheBufferIsRefused) {
  World w;
  w.resources.SetPayload(Container(RecordStream({{"a.txt", "abc"}})));
  w.fs.SetTempPath("C:\\" + std::string(300, 't'));
  EXPECT_FALSE(w.Extract());
  EXPECT_EQ(w.log.Count("CreateDirectoryA("), 0u);
}

TEST(ExtractPayload, EmptyStreamGivesAnEmptyListedFolder) {
  World w;
  w.resources.SetPayload(Container(""));
  ASSERT_TRUE(w.Extract());
  EXPECT_EQ(w.list.Folder(), kFolder0);
  EXPECT_EQ(w.list.FileCount(), 0u);
  EXPECT_EQ(w.setupPath, "before");
  EXPECT_TRUE(w.fs.IsFolder(kFolder0));
}

TEST(ExtractPayload, LaterRecordOfTheSameNameReplacesTheFileAndIsListedTwice) {
  World w;
  w.resources.SetPayload(
      Container(RecordStream({{"a.txt", "first, longer"}, {"a.txt", "second"}})));
  ASSERT_TRUE(w.Extract());
  ASSERT_EQ(w.list.FileCount(), 2u);
  EXPECT_EQ(w.list.FileAt(0), w.list.FileAt(1));
  EXPECT_EQ(w.fs.Content(kFolder0 + "\\a.txt"), "second");
  EXPECT_TRUE(w.list.RemoveExtractedFiles());
}

// The first record that cannot be written ends the extraction with false.
// What was created stays listed, so that removing the list cleans it all up.
TEST(ExtractPayload, UnwritableRecordStopsWithEverythingListed) {
  const std::vector<std::string> names = {"KesmarSetup.exe", "b.bin", "c.bin"};
  for (const char* operation : {"OpenFileForWriting", "Write", "Close"}) {
    for (size_t failing = 0; failing < names.size(); ++failing) {
      SCOPED_TRACE(std::string(operation) + " fails at record " + std::to_string(failing));
      World w;
      w.resources.SetPayload(
          Container(RecordStream({{names[0], "MZ"}, {names[1], "b"}, {names[2], "c"}})));
      w.fs.Fail(operation, kFolder0 + "\\" + names[failing]);
      EXPECT_FALSE(w.Extract());
      EXPECT_EQ(w.list.Folder(), kFolder0);
      const bool opened = std::string(operation) != "OpenFileForWriting";
      EXPECT_EQ(w.list.FileCount(), failing + (opened ? 1 : 0));
      EXPECT_EQ(w.log.Count("OpenFileForWriting("), failing + 1);  // nothing after it is tried
      EXPECT_EQ(w.setupPath, "before");                            // no pass over a partial payload
      EXPECT_TRUE(w.list.RemoveExtractedFiles());
      EXPECT_TRUE(w.fs.Children(kTemp).empty());
    }
  }
}

// The ANSI calls reach no path of 260 characters or more: such a file is not
// written, and the extraction ends as a failed write does.
TEST(ExtractPayload, PathOf260CharactersIsNotWritten) {
  for (const size_t length : {259u, 260u}) {
    SCOPED_TRACE(length);
    World w;
    const std::string name(length - kFolder0.size() - 1, 'n');
    w.resources.SetPayload(Container(RecordStream({{"KesmarSetup.exe", "MZ"}, {name, "x"}})));
    EXPECT_EQ(w.Extract(), length < 260);
    EXPECT_EQ(w.log.Count("OpenFileForWriting("), length < 260 ? 2u : 1u);
    EXPECT_TRUE(w.list.RemoveExtractedFiles());
    EXPECT_TRUE(w.fs.Children(kTemp).empty());
  }
}

}  // namespace
}  // namespace kesmar::testing
