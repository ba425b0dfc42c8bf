// The sample setup program of the sample payload: writes a report of where and how it was started, then exits.
//
// The report goes to %KESMAR_SAMPLE_REPORT% if set, else %TEMP%\KesmarSetup-report.txt,
// never into the folder the program runs from: the launcher removes that folder
// afterwards, and a file of ours left in it would keep the folder in place.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string CurrentFolder() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  return length > 0 && length < MAX_PATH ? buffer : "(unknown)";
}

std::string ProgramFolder() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string path(buffer, length);
  std::string::size_type slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

bool EndsWithTtf(const std::string& value) {
  if (value.size() < 4) return false;
  std::string tail = value.substr(value.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".ttf";
}

// Every key of the "fonts" profile section whose value names a .ttf file.
std::vector<std::pair<std::string, std::string>> TrueTypeFontEntries() {
  std::vector<char> keys(1 << 16);
  DWORD length = 0;
  for (;;) {
    // With no key the call lists every key, each NUL-terminated; a result of
    // size - 2 means the list was cut short.
    length = GetProfileStringA("fonts", nullptr, "", keys.data(), static_cast<DWORD>(keys.size()));
    if (length != keys.size() - 2 || keys.size() >= (1u << 24)) break;
    keys.resize(keys.size() * 2);
  }
  std::vector<std::pair<std::string, std::string>> entries;
  for (const char* key = keys.data(); key < keys.data() + length && *key; key += std::string(key).size() + 1) {
    char value[MAX_PATH] = {};
    GetProfileStringA("fonts", key, "", value, MAX_PATH);
    if (EndsWithTtf(value)) entries.emplace_back(key, value);
  }
  return entries;
}

// Values under HKCU's font key: fonts installed for this user alone.
std::vector<std::pair<std::string, std::string>> UserFontEntries() {
  std::vector<std::pair<std::string, std::string>> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return entries;
  }
  for (DWORD index = 0;; ++index) {
    char name[16384] = {};
    BYTE value[MAX_PATH + 1] = {};
    DWORD nameLength = sizeof name, valueLength = MAX_PATH, type = 0;
    if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, value, &valueLength) !=
        ERROR_SUCCESS) {
      break;
    }
    if (type == REG_SZ) entries.emplace_back(name, reinterpret_cast<char*>(value));
  }
  RegCloseKey(key);
  return entries;
}

// <local application data>\Microsoft\Windows\Fonts, where per-user fonts live.
std::string UserFontsFolder() {
  char buffer[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) {
    return "";
  }
  return std::string(buffer) + "\\Microsoft\\Windows\\Fonts";
}

int CALLBACK NoteFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// Whether a font family of this name is in the font table this process sees.
bool FaceIsPresent(const std::string& face) {
  LOGFONTA wanted = {};
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynA(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
  HDC screen = GetDC(nullptr);
  bool found = false;
  EnumFontFamiliesExA(screen, &wanted, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

// The faces named in %KESMAR_SAMPLE_FACES%, separated by ";".
std::vector<std::string> FacesAskedFor() {
  char buffer[1024] = {};
  const DWORD length = GetEnvironmentVariableA("KESMAR_SAMPLE_FACES", buffer, sizeof buffer);
  std::vector<std::string> faces;
  if (length == 0 || length >= sizeof buffer) return faces;
  std::string list(buffer, length);
  for (size_t start = 0; start <= list.size();) {
    const size_t end = std::min(list.find(';', start), list.size());
    if (end > start) faces.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return faces;
}

std::string ReportPath() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("KESMAR_SAMPLE_REPORT", buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return buffer;
  length = GetTempPathA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string path(buffer, length);
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path + "KesmarSetup-report.txt";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string report = "KesmarSetup sample report\r\n";
  report += "Current folder: " + CurrentFolder() + "\r\n";
  report += "Command line: " + std::string(GetCommandLineA()) + "\r\n";
  std::string folder = ProgramFolder();
  report += "Files beside the program (" + folder + "):\r\n";
  for (const std::string& name : FilesIn(folder)) report += "  " + name + "\r\n";
  report += "TrueType entries in the \"fonts\" profile section:\r\n";
  for (const auto& entry : TrueTypeFontEntries()) report += "  " + entry.first + " = " + entry.second + "\r\n";
  report += "Fonts registered for this user:\r\n";
  for (const auto& entry : UserFontEntries()) report += "  " + entry.first + " = " + entry.second + "\r\n";
  const std::string userFonts = UserFontsFolder();
  report += "Files in the user's font folder (" + userFonts + "):\r\n";
  for (const std::string& name : FilesIn(userFonts)) report += "  " + name + "\r\n";
  report += "Faces:\r\n";
  for (const std::string& face : FacesAskedFor()) {
    report += "  " + face + (FaceIsPresent(face) ? " = present" : " = absent") + "\r\n";
  }
  report += "End of report\r\n";

  std::string path = ReportPath();
  if (path.empty()) return 1;
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  bool ok = WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
            written == report.size();
  ok = CloseHandle(out) && ok;

  // For tests of the launcher's cleanup: a file of the program's own, left
  // in its folder, which the launcher did not extract and must not delete.
  char leave[MAX_PATH] = {};
  const DWORD leaveLength = GetEnvironmentVariableA("KESMAR_SAMPLE_LEAVE_FILE", leave, MAX_PATH);
  if (leaveLength > 0 && leaveLength < MAX_PATH) {
    HANDLE left = CreateFileA((folder + "\\" + leave).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = left != INVALID_HANDLE_VALUE && CloseHandle(left) && ok;
  }
  // The launcher ignores this code; it is here for whoever runs the sample alone.
  return ok ? 0 : 1;
}
