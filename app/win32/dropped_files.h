// What a WM_DROPFILES message carries: the paths dropped onto the window.
#pragma once

#include <windows.h>

#include <shellapi.h>  // HDROP alone: the shell DLL is loaded at run time

#include <filesystem>
#include <vector>

namespace halfmap::win32 {

// The dropped paths, in order. Takes ownership of drop and releases it
// (DragFinish) whatever happens. The shell's DLL is loaded only now, from
// the system folder: a window that is never dropped onto never loads it.
std::vector<std::filesystem::path> DroppedFiles(HDROP drop);

}  // namespace halfmap::win32
