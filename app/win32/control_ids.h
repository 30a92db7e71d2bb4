// Child-window identifiers of the main window's controls, shared with the
// automation program that drives the window under test. They stay clear of
// IDOK and IDCANCEL, which the dialog keyboard interface sends on its own.
#pragma once

#include "resources/layout.h"

namespace halfmap::win32 {

inline constexpr int kFirstControlId = 100;

constexpr int ControlId(ui::Id id) { return kFirstControlId + static_cast<int>(id); }

// The caption's window class, so the window can be found by class and title.
inline constexpr wchar_t kMainWindowClass[] = L"HalfmapMainWindow";

}  // namespace halfmap::win32
