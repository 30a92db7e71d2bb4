// UTF-8 <-> UTF-16 for the wide Windows functions, used by the window and
// halfmap-cli alike. The layout's texts and every error message are UTF-8;
// windows, consoles and files speak UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace halfmap::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace halfmap::win32
