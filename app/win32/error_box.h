// The generic error report on Windows: a stop-icon box with one OK button,
// titled with the application title. Never throws, so it is safe in the
// catch blocks at a window procedure's boundary.
#pragma once

#include <windows.h>

#include <string_view>

namespace halfmap::win32 {

// owner may be null or a window that no longer exists.
void ShowErrorBox(HWND owner, std::string_view message) noexcept;

}  // namespace halfmap::win32
