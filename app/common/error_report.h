// The generic error report's texts, shared by both windowing layers: the
// box title formed from the executable's name, and the message with its
// closing ".".
#pragma once

#include <string>
#include <string_view>

namespace halfmap {

// Lower-cases UTF-16 text the way the platform does (CharLowerW on Windows).
using LowerCaser = std::u16string (*)(std::u16string_view);

// The executable's path with the folder stripped (after the last '\\' or
// '/'), cut at the first '.', and everything after the first character
// lower-cased: "C:\\Maps\\HALFMAP.EXE" gives "Halfmap".
std::u16string AppTitle(std::u16string_view exePath, LowerCaser lower);

// The message, with "." appended when it is not empty and its last byte
// compares greater than '.' (true of every message ending in Japanese).
std::string ErrorBoxText(std::string_view message);

}  // namespace halfmap
