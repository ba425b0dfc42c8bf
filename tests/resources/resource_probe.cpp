// Checks, through the Win32 loader, that each resource of a launcher loads as the launcher uses it, and its checksum.
//   resource_probe.exe LAUNCHER PAYLOAD_FILE    exit code 0 when every check passes; failures go to stderr
#include "platform/win32/windows_api.h"

#include <imagehlp.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "resource_probe: FAILED: %s\n", what);
    ++failures;
  }
}

void CheckStrings(HINSTANCE instance) {
  for (UINT id : {103u, 109u}) {
    wchar_t buffer[100] = {};
    int length = LoadStringW(instance, id, buffer, 100);
    Check(length == 14 && std::wcscmp(buffer, L"KesmarSetupWin") == 0, "string 103/109 text");
  }
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

// Every image of the group must decode into an icon of its stated size:
// a broken BMP or PNG entry is caught here even when the directory is right.
void CheckIconGroup(HINSTANCE instance, WORD groupId, WORD expectedCount) {
  Check(LoadIconW(instance, MAKEINTRESOURCEW(groupId)) != nullptr, "LoadIconW of the group");
  HRSRC group = FindResourceW(instance, MAKEINTRESOURCEW(groupId), MAKEINTRESOURCEW(14));
  Check(group != nullptr, "icon group present");
  if (group == nullptr) return;
  auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(instance, group)));
  WORD count = *reinterpret_cast<const WORD*>(dir + 4);
  Check(count == expectedCount, "icon group image count");
  auto* entries = reinterpret_cast<const GroupIconEntry*>(dir + 6);
  for (WORD i = 0; i < count; ++i) {
    HRSRC image = FindResourceW(instance, MAKEINTRESOURCEW(entries[i].id), MAKEINTRESOURCEW(3));
    Check(image != nullptr, "icon image present");
    if (image == nullptr) continue;
    auto* bits = static_cast<BYTE*>(LockResource(LoadResource(instance, image)));
    int side = entries[i].width == 0 ? 256 : entries[i].width;
    HICON icon = CreateIconFromResourceEx(bits, SizeofResource(instance, image), TRUE, 0x00030000,
                                          side, side, LR_DEFAULTCOLOR);
    Check(icon != nullptr, "icon image decodes");
    if (icon == nullptr) continue;
    ICONINFO info = {};
    BITMAP bitmap = {};
    if (GetIconInfo(icon, &info)) {
      GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
      Check(bitmap.bmWidth == side, "decoded icon width");
      if (info.hbmColor) DeleteObject(info.hbmColor);
      DeleteObject(info.hbmMask);
    }
    DestroyIcon(icon);
  }
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr) return L"?";
  return static_cast<const wchar_t*>(value);
}

void CheckVersion(const wchar_t* self) {
  DWORD ignored = 0;
  std::vector<BYTE> block(GetFileVersionInfoSizeW(self, &ignored));
  Check(!block.empty() && GetFileVersionInfoW(self, 0, static_cast<DWORD>(block.size()), block.data()),
        "version block readable");
  if (block.empty()) return;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  Check(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
            fixed->dwFileVersionMS == 0x00010001 && fixed->dwFileVersionLS == 0x00050005 &&
            fixed->dwProductVersionMS == 0x00010001 && fixed->dwProductVersionLS == 0x00050005 &&
            fixed->dwFileOS == 0x40004 && fixed->dwFileType == VFT_APP,
        "fixed version values");
  WORD* translation = nullptr;
  Check(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &length) && length == 4 && translation[0] == 0x409 && translation[1] == 1200,
        "version translation 0x409, 1200");
  const struct { const wchar_t* name; const wchar_t* value; } strings[] = {
      {L"CompanyName", L"Kesmar"},
      {L"FileDescription", L"Kesmar Windows Setup"},
      {L"FileVersion", L"1.1.5.5"},
      {L"InternalName", L"KesmarSetupWin.exe"},
      {L"OriginalFilename", L"KesmarSetupWin.exe"},
      {L"ProductName", L"Kesmar Windows Setup"},
      {L"ProductVersion", L"1.1.5"},
  };
  for (const auto& s : strings) Check(VersionString(block, s.name) == s.value, "version string value");
}

// The launcher reads its payload exactly this way: ANSI calls, "#130" and "RAW".
void CheckPayload(HINSTANCE instance, const wchar_t* payloadPath) {
  std::ifstream file(payloadPath, std::ios::binary);
  Check(file.good(), "payload file readable");
  std::string expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  HRSRC raw = FindResourceA(instance, "#130", "RAW");
  Check(raw != nullptr, "RAW 130 present");
  if (raw == nullptr) return;
  auto* bytes = static_cast<const char*>(LockResource(LoadResource(instance, raw)));
  Check(std::string(bytes, SizeofResource(instance, raw)) == expected, "RAW 130 equals the payload file");
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR types) {
  if (IS_INTRESOURCE(type)) reinterpret_cast<std::set<ULONG_PTR>*>(types)->insert(reinterpret_cast<ULONG_PTR>(type));
  return TRUE;
}

void CheckNoInteractiveResources(HINSTANCE instance) {
  std::set<ULONG_PTR> types;
  EnumResourceTypesW(instance, CollectType, reinterpret_cast<LONG_PTR>(&types));
  Check(types.count(24) == 1, "manifest present");
  for (ULONG_PTR absent : {4u, 5u, 9u})  // menu, dialog, accelerators
    Check(types.count(absent) == 0, "no menu, dialog or accelerator resource");
}

}  // namespace

// The header's checksum is the one Windows computes over the file.
void CheckChecksum(const wchar_t* path) {
  DWORD inHeader = 0, computed = 0;
  Check(MapFileAndCheckSumW(path, &inHeader, &computed) == CHECKSUM_SUCCESS, "checksum computed");
  Check(inHeader != 0 && inHeader == computed, "header checksum matches the file");
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr || count != 3) {
    std::fprintf(stderr, "usage: resource_probe LAUNCHER PAYLOAD_FILE\n");
    return 2;
  }
  const wchar_t* launcher = argv[1];
  HMODULE module = LoadLibraryExW(launcher, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  Check(module != nullptr, "launcher loads as an image resource");
  if (module == nullptr) return 1;
  HINSTANCE instance = module;
  CheckStrings(instance);
  CheckIconGroup(instance, 107, 19);
  CheckIconGroup(instance, 108, 3);
  CheckVersion(launcher);
  CheckPayload(instance, argv[2]);
  CheckNoInteractiveResources(instance);
  CheckChecksum(launcher);
  if (failures == 0) std::fprintf(stderr, "resource_probe: all resource checks passed\n");
  return failures == 0 ? 0 : 1;
}
