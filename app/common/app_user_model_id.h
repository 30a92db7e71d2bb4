// The name the Windows shell groups a program's windows and taskbar
// buttons under, instead of one it guesses from the executable's path.
#pragma once

namespace halfmap::win32 {

inline constexpr wchar_t kWindowAppId[] = L"halfmap.halfmap";
inline constexpr wchar_t kCliAppId[] = L"halfmap.halfmap-cli";

// Sets the process's AppUserModelID. Quietly does nothing where shell32 or
// the call cannot be had: the id only helps the shell group windows.
void SetAppUserModelId(const wchar_t* id) noexcept;

}  // namespace halfmap::win32
