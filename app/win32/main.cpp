// Program entry on Windows: one main window, its message loop, then exit.
#include <windows.h>

#include <commctrl.h>

#include <exception>

#include "app/common/dll_search.h"
#include "app/common/error_report.h"
#include "app/tform1.h"
#include "app/win32/error_box.h"
#include "app/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  halfmap::win32::LoadDllsFromSystemOnly();
  try {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
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
