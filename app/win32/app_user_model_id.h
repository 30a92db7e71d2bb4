// The name the Windows shell groups a program's windows and taskbar
// buttons under, instead of one it guesses from the executable's path.
#pragma once

namespace halfmap::win32 {

// The window's. halfmap-cli sets none: shell32 would bring in user32, and a
// console program that loads user32 is no longer told of logoff and
// shutdown, when it must remove its scratch files.
inline constexpr wchar_t kWindowAppId[] = L"halfmap.halfmap";

// Sets the process's AppUserModelID. Quietly does nothing where shell32 or
// the call cannot be had: the id only helps the shell group windows.
void SetAppUserModelId(const wchar_t* id) noexcept;

}  // namespace halfmap::win32
