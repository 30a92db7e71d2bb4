#include "app/win32/error_box.h"

#include <string>

#include "app/common/error_report.h"
#include "app/common/wide_text.h"
#include "mapconv/file_services.h"

namespace halfmap::win32 {
namespace {

// wchar_t is UTF-16 on Windows, so the copies are one to one.
std::u16string LowerWithSystem(std::u16string_view text) {
  std::wstring wide(text.begin(), text.end());
  // The buffer form of CharLowerW: it never mistakes a short text for a
  // single character.
  ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return {wide.begin(), wide.end()};
}

std::wstring Title() {
  const std::wstring exe = mapconv::fs::ExecutablePath().wstring();
  const std::u16string title = AppTitle(std::u16string(exe.begin(), exe.end()), LowerWithSystem);
  return {title.begin(), title.end()};
}

}  // namespace

void ShowErrorBox(HWND owner, std::string_view text) noexcept {
  try {
    if (owner != nullptr && !::IsWindow(owner)) owner = nullptr;
    ::MessageBoxW(owner, Widen(text).c_str(), Title().c_str(), MB_OK | MB_ICONSTOP);
  } catch (...) {
    // Not even the texts could be built; a box with no title still tells
    // the user that something failed.
    ::MessageBoxW(owner, L"", nullptr, MB_OK | MB_ICONSTOP);
  }
}

}  // namespace halfmap::win32
