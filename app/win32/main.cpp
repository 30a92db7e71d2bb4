// Program entry on Windows: one main window over the folder given (as
// Explorer gives a folder dropped onto the executable) or beside the
// executable, its message loop, then exit.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "app/common/dll_search.h"
#include "app/common/error_report.h"
#include "app/map_folder.h"
#include "app/tform1.h"
#include "app/win32/app_user_model_id.h"
#include "app/win32/error_box.h"
#include "app/win32/main_window.h"
#include "mapconv/file_services.h"

namespace {

// The common controls' DLL is no known DLL: imported, it would be looked
// for beside the executable, in the maps folder, before this code runs.
void StartCommonControls() {
  using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = halfmap::win32::SystemFunction<Init>(L"comctl32.dll", "InitCommonControlsEx");
  if (init == nullptr) throw std::runtime_error("comctl32.dll cannot be loaded");
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  init(&classes);
}

// Where installed programs lie, never beside maps: the Windows folder and
// the program folders.
std::vector<std::filesystem::path> SystemFolders() {
  std::vector<std::filesystem::path> folders;
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length > 0 && length < MAX_PATH) folders.emplace_back(std::wstring(windows, length));
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    if (const wchar_t* folder = ::_wgetenv(name); folder != nullptr && *folder != L'\0') folders.emplace_back(folder);
  }
  return folders;
}

halfmap::FolderChoice ChooseFolder() {
  // The C runtime splits the command line as every Windows program does.
  const std::vector<std::filesystem::path> args(__wargv + 1, __wargv + __argc);
  std::error_code unknown;  // a current folder that is gone: arguments stay relative
  return halfmap::ChooseMapFolder(args, mapconv::fs::ExecutablePath(), std::filesystem::current_path(unknown),
                                  SystemFolders());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  halfmap::win32::LoadDllsFromSystemOnly();
  halfmap::win32::SetAppUserModelId(halfmap::win32::kWindowAppId);
  try {
    StartCommonControls();
    const halfmap::FolderChoice choice = ChooseFolder();
    if (!choice.message.empty()) halfmap::win32::ShowErrorBox(nullptr, choice.message);
    halfmap::win32::MainWindow window;
    halfmap::TForm1 form(window, choice.folder);
    window.Create(form);
    window.Show();
    return window.RunMessageLoop();
  } catch (const std::exception& e) {
    // Only start-up can get here; every handler reports at its own boundary.
    halfmap::win32::ShowErrorBox(nullptr, halfmap::ErrorBoxText(e.what()));
    return 1;
  }
}
