// The font pass for real: a TrueType file lands in the Fonts folder, is added, registered, and its copy deleted.
#include <gtest/gtest.h>

#include <filesystem>

#include "launcher/font_pass.h"
#include "platform/fonts.h"
#include "platform/win32/broadcast_font_change.h"
#include "platform/win32/windows_api.h"
// After windows.h, which it needs.
#include <tlhelp32.h>
#include "tests/support/temp_dir.h"

namespace kesmar::testing {
namespace {

// The build copies a DejaVu font next to the test program under this name.
std::filesystem::path TestFontFile() {
  char exe[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
  return std::filesystem::path(exe).parent_path() / "kesmar_test_font.ttf";
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The real font calls, with the results the pass itself ignores kept for the test.
class RecordingFontApi final : public FontApi {
 public:
  explicit RecordingFontApi(FontApi& real) : real_(real) {}
  bool SHGetFolderLocation(int csidl, ItemIdList** list) override {
    return real_.SHGetFolderLocation(csidl, list);
  }
  bool SHGetPathFromIDListA(const ItemIdList* list, char* buffer) override {
    return real_.SHGetPathFromIDListA(list, buffer);
  }
  void CoTaskMemFree(ItemIdList* list) override { real_.CoTaskMemFree(list); }
  int AddFontResourceA(const std::string& path) override {
    addResults.push_back(real_.AddFontResourceA(path));
    return addResults.back();
  }
  bool WriteProfileStringA(const std::string& section, const std::string& key,
                           const std::string& value) override {
    return real_.WriteProfileStringA(section, key, value);
  }
  bool CreateBroadcastThread() override {
    threadResults.push_back(real_.CreateBroadcastThread());
    return threadResults.back();
  }
  bool SHGetFolderPathA(int csidl, std::string* path) override {
    return real_.SHGetFolderPathA(csidl, path);
  }
  bool SHGetFolderPathW(int csidl, std::wstring* path) override {
    return real_.SHGetFolderPathW(csidl, path);
  }
  std::unique_ptr<RegistryKey> RegCreateKeyExA(const std::string& subKey) override {
    return real_.RegCreateKeyExA(subKey);
  }
  bool RegSetValueExA(RegistryKey& key, const std::string& name,
                      const std::string& value) override {
    return real_.RegSetValueExA(key, name, value);
  }

  std::vector<int> addResults;
  std::vector<bool> threadResults;

 private:
  FontApi& real_;
};

size_t ThreadsOfThisProcess() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  size_t count = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  }
  ::CloseHandle(snapshot);
  return count;
}

// Nothing joins the broadcast threads. The test lets them finish before the
// program ends, since Wine under qemu-user can kill a process that exits
// while one of its threads is inside a server call.
void WaitForThreadsToEnd(size_t count) {
  for (int i = 0; i < 200 && ThreadsOfThisProcess() > count; ++i) ::Sleep(50);
}

TEST(FontPassOnWindows, InstallsRegistersAndDeletesTheExtractedCopy) {
  const std::string name = "KesmarTestSans.ttf";
  const std::string key = "KesmarTestSans (True Type)";
  auto files = CreateNativeFileSystem();
  auto native = CreateNativeFontApi();
  RecordingFontApi fonts(*native);
  Platform platform;
  platform.files = files.get();
  platform.fonts = &fonts;

  const std::string fontsFolder = GetFontsFolder(fonts);
  ASSERT_FALSE(fontsFolder.empty());
  const std::string installed = fontsFolder + "\\" + name;
  ::DeleteFileA(installed.c_str());  // a previous run in the same prefix

  TempDir dir;
  const std::string extracted = dir.path().string() + "\\" + name;
  const std::string setup = dir.path().string() + "\\KesmarSetup.exe";
  std::filesystem::copy_file(TestFontFile(), extracted);
  dir.Write("KesmarSetup.exe", "MZ");
  CleanupList list(*files);
  list.AddFile(setup);
  list.AddFile(extracted);
  std::string setupPath;
  const size_t threadsBefore = ThreadsOfThisProcess();
  ProcessExtractedFiles(platform, {"KesmarSetup.exe", name}, list, &setupPath);
  WaitForThreadsToEnd(threadsBefore);

  EXPECT_EQ(setupPath, setup);
  EXPECT_FALSE(Exists(extracted));
  ASSERT_TRUE(Exists(installed));
  EXPECT_EQ(std::filesystem::file_size(installed), std::filesystem::file_size(TestFontFile()));
  char value[MAX_PATH] = {};
  ::GetProfileStringA("fonts", key.c_str(), "", value, MAX_PATH);
  EXPECT_STREQ(value, name.c_str());
  EXPECT_EQ(fonts.addResults, std::vector<int>{1});
  EXPECT_EQ(fonts.threadResults, std::vector<bool>{true});

  ::RemoveFontResourceA(installed.c_str());
  ::WriteProfileStringA("fonts", key.c_str(), nullptr);
  ::DeleteFileA(installed.c_str());
}

TEST(FontPassOnWindows, BroadcastReturnsOne) { EXPECT_EQ(BroadcastFontChange(nullptr), 1u); }

}  // namespace
}  // namespace kesmar::testing
