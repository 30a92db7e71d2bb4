// Program entry on Windows: one main window, its message loop, then exit.
#include <windows.h>

#include <commctrl.h>

#include <exception>
#include <stdexcept>

#include "app/win32/app_user_model_id.h"
#include "app/common/dll_search.h"
#include "app/common/error_report.h"
#include "app/tform1.h"
#include "app/win32/error_box.h"
#include "app/win32/main_window.h"

namespace {

// The common controls' DLL is no known DLL: imported, it would be looked
// for beside the executable, in the maps folder, before this code runs.
void StartCommonControls() {
  using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const HMODULE controls = halfmap::win32::LoadSystemDll(L"comctl32.dll");
  const FARPROC found = controls ? ::GetProcAddress(controls, "InitCommonControlsEx") : nullptr;
  if (!found) throw std::runtime_error("comctl32.dll cannot be loaded");
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  reinterpret_cast<Init>(reinterpret_cast<void*>(found))(&classes);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  halfmap::win32::LoadDllsFromSystemOnly();
  halfmap::win32::SetAppUserModelId(halfmap::win32::kWindowAppId);
  try {
    StartCommonControls();
    halfmap::win32::MainWindow window;
    halfmap::TForm1 form(window);
    window.Create(form);
    window.Show();
    return window.RunMessageLoop();
  } catch (const std::exception& e) {
    // Only start-up can get here; every handler reports at its own boundary.
    halfmap::win32::ShowErrorBox(nullptr, halfmap::ErrorBoxText(e.what()));
    return 1;
  }
}
