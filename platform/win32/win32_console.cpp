// The command line and the console on Windows: arguments from the UTF-16 command line, text to a console in UTF-16.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <streambuf>

#include "platform/host_console.h"
#include "platform/win32/wide_path.h"

namespace kesmar {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// UTF-8 into a console window: whole characters are passed on as UTF-16, so
// that a name shows as it is whatever the console's code page; a character
// split between two writes waits for its rest.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) pending_ += char(c);
    if (c == '\n' || c == traits_type::eof()) Flush();
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, size_t(count));
    Flush();
    return count;
  }
  int sync() override {
    Flush();
    return 0;
  }

 private:
  void Flush() {
    // Keep back an incomplete sequence at the end.
    size_t whole = pending_.size();
    for (size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
      const unsigned char c = static_cast<unsigned char>(pending_[pending_.size() - back]);
      if ((c & 0xC0) == 0x80) continue;  // a continuation byte
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (length > back) whole = pending_.size() - back;
      break;
    }
    if (whole == 0) return;
    const std::wstring wide = ShownText(pending_.substr(0, whole));
    DWORD written = 0;
    ::WriteConsoleW(console_, wide.data(), DWORD(wide.size()), &written, nullptr);
    pending_.erase(0, whole);
  }

  // Text that is not valid UTF-8 is still shown, byte by byte.
  static std::wstring ShownText(const std::string& text) {
    std::wstring wide = WideFromUtf8(text);
    if (wide.empty() && !text.empty()) wide.assign(text.begin(), text.end());
    return wide;
  }

  HANDLE console_;
  std::string pending_;
};

}  // namespace

const char kHostSystem[] = "Windows";
const bool kHostSplitsCommandLine = true;

std::vector<std::string> HostArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

bool StderrIsTerminal() { return IsConsole(::GetStdHandle(STD_ERROR_HANDLE)); }

void UseConsoleText() {
  // Redirected output is the UTF-8 bytes as they are, with "\n" line ends,
  // the same as on Linux.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const HANDLE outHandle = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE errHandle = ::GetStdHandle(STD_ERROR_HANDLE);
  // They live as long as the streams that use them.
  static ConsoleBuffer out(outHandle);
  static ConsoleBuffer err(errHandle);
  if (IsConsole(outHandle)) std::cout.rdbuf(&out);
  if (IsConsole(errHandle)) std::cerr.rdbuf(&err);
}

}  // namespace kesmar
