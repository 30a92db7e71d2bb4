// What TForm1 asks of the platform's windowing services. The Qt and Win32
// layers implement it over real controls built from resources/layout.h; the
// tests implement it in memory. The layer owns the controls; TForm1 only
// holds references to them for the window's lifetime.
#pragma once

#include <string>
#include <string_view>

#include "mapconv/halve_map.h"
#include "resources/layout.h"

namespace halfmap {

class LabelControl {
 public:
  virtual ~LabelControl() = default;
  virtual bool Enabled() const = 0;
  // Disabled labels are drawn etched: the window's sign of a missing input.
  virtual void SetEnabled(bool enabled) = 0;
};

class ButtonControl {
 public:
  virtual ~ButtonControl() = default;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void SetText(std::string_view text) = 0;
  virtual void SetFocus() = 0;
};

class StatusControl {
 public:
  virtual ~StatusControl() = default;
  virtual void SetText(std::string_view text) = 0;
};

// The bar contract HalveMap relies on, kept here once: the range is checked
// and stored, the position kept as given, and the layer only draws.
class ProgressBarControl : public mapconv::ProgressBar {
 public:
  void SetMin(int value) final;
  void SetMax(int value) final;
  void SetPosition(int value) final;

  int Min() const { return range_.Min(); }
  int Max() const { return range_.Max(); }
  int Position() const { return position_; }

 protected:
  // Shows position within [min, max]; the position is already clamped.
  virtual void Draw(int min, int max, int position) = 0;
  // Draws the current state again, as after a resize.
  void Redraw();

 private:
  // The layout's range is the one a ProgressRange starts with.
  static_assert(ui::kBarMin == 0 && ui::kBarMax == 100);
  mapconv::ProgressRange<> range_;
  int position_ = ui::kBarMin;
};

// How many whole tenths of the range position has covered, 10 only at the
// maximum: a bar tells assistive tools its value only when this changes, at
// most 11 times from empty to full, since a value on every drawn step floods
// a screen reader.
int WholeTenths(int min, int max, int position);

class WindowLayer {
 public:
  virtual ~WindowLayer() = default;

  virtual LabelControl& Label(ui::Id id) = 0;
  virtual ProgressBarControl& Bar(ui::Id id) = 0;
  virtual ButtonControl& Button(ui::Id id) = 0;
  virtual StatusControl& Status(ui::Id id) = 0;

  // Queues WM_PROBE_INPUTS to the window itself; the event loop later calls
  // TForm1::WMProbeInputs.
  virtual void PostProbeInputs() = 0;
  // Handles every pending event, then returns. A request to quit taken here
  // is remembered and carried out once the running handler has returned.
  // Called before every row of a conversion, so a layer may look for events
  // at most once a millisecond or so and return at once in between.
  virtual void ProcessPendingEvents() = 0;
  // Closes the main window, which ends the program.
  virtual void CloseWindow() = 0;
  // Tells which folder the window works on without changing its layout:
  // as the status bar's tooltip and in the window's accessible description
  // (see WindowDescription). folder is UTF-8.
  virtual void ShowMapFolder(std::string_view folder) = 0;
};

// The window's accessible description: the status, then the folder when
// one is shown, so a screen reader tells both on opening.
std::string WindowDescription(std::string_view status, std::string_view folder);

// WM_USER + 0x500, the private message that starts the probe.
inline constexpr unsigned kWmProbeInputs = 0x0900;

}  // namespace halfmap
