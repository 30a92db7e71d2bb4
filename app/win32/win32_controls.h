// The window's controls as Win32 child windows. Each object only refers to
// its child window: the main window owns every child and destroys them with
// itself, so these never destroy anything.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "app/win32/accessible_props.h"
#include "app/window_layer.h"

namespace halfmap::win32 {

// The child window a control stands for, set once it has been created.
class ChildWindow {
 public:
  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  HWND hwnd() const { return hwnd_; }

 protected:
  HWND hwnd_ = nullptr;
};

// A static control drawn by its parent (see DrawLabel), so a disabled label
// gets the etched look on every system. Its window text is the map's name,
// which the system also gives the bar created right after it. A disabled
// label takes its bar with it, so both read as unavailable.
class Win32Label final : public LabelControl, public ChildWindow {
 public:
  void AttachBar(HWND bar) { bar_ = bar; }
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

 private:
  HWND bar_ = nullptr;
};

// Paints a label for WM_DRAWITEM, its text against the right edge:
// window-text colour when enabled; when disabled, the text in
// button-highlight etch pixels right and down, then in button-shadow in its
// own place.
void DrawLabel(const DRAWITEMSTRUCT& item, HFONT font, int etch);

class Win32Button final : public ButtonControl, public ChildWindow {
 public:
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;
  void SetText(std::string_view text) override;
  void SetFocus() override;
};

// A status bar with one part as wide as itself and no other: one text,
// which WM_GETTEXT and so the accessibility layer can read (a simple-mode
// text is invisible to both). It is a polite live region, so a screen
// reader reads each new status out wherever the focus is, and the main
// window's description follows it. The folder the window works on, when
// shown, is its tooltip and follows the status in that description.
class Win32Status final : public StatusControl, public ChildWindow {
 public:
  // props must outlive the status bar.
  void Attach(HWND hwnd, AccessibleProps& props);
  void SetText(std::string_view text) override;
  void SetFolder(std::string_view folder);

 private:
  void Describe();

  AccessibleProps* props_ = nullptr;
  // Owned by the main window, as every window it owns, and destroyed with it.
  HWND tooltip_ = nullptr;
  std::string text_;
  std::string folder_;
};

// The control repaints, and tells assistive tools its value, on every
// position it is sent, so it is sent one only at each whole tenth (see
// WholeTenths): at most 11 a run.
class Win32Bar final : public ProgressBarControl {
 public:
  void Attach(HWND hwnd);

 protected:
  void Draw(int min, int max, int position) override;

 private:
  HWND hwnd_ = nullptr;
  int shownMin_ = 0;
  int shownMax_ = 0;
  int shownTenths_ = 0;
};

}  // namespace halfmap::win32
