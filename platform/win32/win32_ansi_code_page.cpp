// AnsiCodePage on Windows, through the system's own tables, with no best-fit substitution.
#include "platform/ansi_code_page.h"
#include "platform/win32/wide_path.h"

namespace kesmar {
namespace {

class WindowsCodePage final : public AnsiCodePage {
 public:
  explicit WindowsCodePage(UINT number) : number_(number) {}

  bool FromUtf8(const std::string& utf8, std::string* ansi) const override {
    ansi->clear();
    if (utf8.empty()) return true;
    const std::wstring wide = WideFromUtf8(utf8);
    if (wide.empty()) return false;
    // No best fit ("e" for "é"), no default character: only exact forms.
    BOOL usedDefault = FALSE;
    const int length = ::WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr,
                                             0, nullptr, &usedDefault);
    if (length <= 0 || usedDefault) return false;
    ansi->resize(size_t(length));
    ::WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), ansi->data(), length,
                          nullptr, &usedDefault);
    return !usedDefault;
  }

  bool ToUtf8(const std::string& ansi, std::string* utf8) const override {
    utf8->clear();
    if (ansi.empty()) return true;
    const int length = ::MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, ansi.data(), int(ansi.size()), nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(size_t(length), L'\0');
    ::MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, ansi.data(), int(ansi.size()), wide.data(), length);
    *utf8 = Utf8FromWide(wide);
    return true;
  }

  bool IsLeadByte(uint8_t byte) const override { return ::IsDBCSLeadByteEx(number_, byte) != 0; }

 private:
  UINT number_;
};

}  // namespace

std::unique_ptr<AnsiCodePage> AnsiCodePage::Open(int number) {
  if (number <= 0 || !::IsValidCodePage(UINT(number))) return nullptr;
  return std::make_unique<WindowsCodePage>(UINT(number));
}

}  // namespace kesmar
