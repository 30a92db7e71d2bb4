// The system's words for an error on Windows: FormatMessageW's, in the
// user's language, without the line break it ends with.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "app/cli/messages.h"
#include "app/common/wide_text.h"

namespace halfmap::cli {

std::string PlatformReason(std::error_code code) {
  if (code.category() != std::system_category()) return code.message();
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code.value()), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(text, ::LocalFree);
  if (length == 0) return "error " + std::to_string(code.value());
  std::wstring_view message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.remove_suffix(1);
  }
  return win32::Narrow(message);
}

}  // namespace halfmap::cli
