// The main window on Win32: builds the controls from resources/layout.h,
// turns messages into TForm1's handlers and carries out what TForm1 asks of
// the controls. One object per launch; it owns the window (and so every
// child control) and the font; TForm1 is owned by the caller and must
// outlive the message loop.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

#include "app/tform1.h"
#include "app/win32/win32_controls.h"

namespace halfmap::win32 {

struct WindowDeleter {
  void operator()(HWND hwnd) const noexcept { ::DestroyWindow(hwnd); }
};
struct FontDeleter {
  void operator()(HFONT font) const noexcept { ::DeleteObject(font); }
};
using WindowHandle = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

class MainWindow final : public WindowLayer {
 public:
  MainWindow() = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window and its controls, then runs form.FormCreate().
  void Create(TForm1& form);
  // Shows the window centred on the screen; form.FormShow() runs as it does.
  void Show();
  // Runs until the window is gone; gives the exit code.
  int RunMessageLoop();

  LabelControl& Label(ui::Id id) override;
  ProgressBarControl& Bar(ui::Id id) override;
  ButtonControl& Button(ui::Id id) override;
  StatusControl& Status(ui::Id id) override;
  void PostProbeInputs() override;
  void ProcessPendingEvents() override;
  void CloseWindow() override;
  void ShowMapFolder(std::string_view folder) override { status_.SetFolder(folder); }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCreate();
  void CreateControl(const ui::Control& control);
  // Where a control goes in the client area: its layout rectangle scaled,
  // except that a label is sized to its text and keeps its right edge.
  RECT Place(const ui::Control& control) const;
  // Rebuilds the font for the new screen and lays the window out again
  // from the layout, scaled as at start, where the system suggests.
  void OnDpiChanged(int dpi, const RECT& suggested);
  void FitClientArea();
  void LayOutControls();
  void OnCommand(int id);
  void OnRunClicked();
  void OnActivate(bool active);
  void OnClose();
  void OnDropFiles(HDROP drop);
  void OnPaint();
  void MoveFocus(bool backward);
  void PressFocusedButton();
  void Dispatch(MSG& message);
  // Runs one handler; an exception that leaves it is shown in the error box
  // and goes no further.
  template <typename Handler>
  void Guarded(Handler handler) noexcept;
  int Scale(int pixels) const;
  // How far a disabled label's etched copy is shifted: one layout pixel.
  int Etch() const;

  HWND hwnd_ = nullptr;
  AccessibleProps props_;  // outlives the window it annotates
  WindowHandle window_;
  FontHandle font_;
  int textHeight_ = ui::kDesignTextHeight;
  TForm1* form_ = nullptr;
  std::array<Win32Label, 3> labels_;
  std::array<Win32Bar, 3> bars_;
  std::array<Win32Button, 2> buttons_;
  Win32Status status_;
  RECT bevel_{};
  std::exception_ptr createFailure_;
  HWND savedFocus_ = nullptr;
  // Requests to end that arrive during a run, carried out once it returns.
  bool closePending_ = false;
  std::optional<int> quitPending_;
  // When pending events were last handled; see ProcessPendingEvents.
  static constexpr std::chrono::milliseconds kEventInterval{1};
  std::chrono::steady_clock::time_point lastEvents_;
};

}  // namespace halfmap::win32
