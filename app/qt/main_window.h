// The main window on Qt 6 Widgets: builds its controls from the layout
// table, owns them and TForm1, and turns clicks, shows, closes and the
// posted probe, and a folder dropped onto it, into TForm1's handlers. Every
// handler runs inside the shared error boundary, so nothing escapes into
// Qt's event loop.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/qt/controls.h"
#include "app/tform1.h"
#include "app/window_layer.h"

namespace halfmap::qt {

class MainWindow final : public QWidget, public WindowLayer {
 public:
  // folder: where the maps are; beside the executable unless given.
  explicit MainWindow(MapFolder folder = {});
  ~MainWindow() override;

  LabelControl& Label(ui::Id id) override;
  ProgressBarControl& Bar(ui::Id id) override;
  ButtonControl& Button(ui::Id id) override;
  StatusControl& Status(ui::Id id) override;
  void PostProbeInputs() override;
  void ProcessPendingEvents() override;
  void CloseWindow() override { close(); }
  void ShowMapFolder(std::string_view folder) override;

  // Looking for events costs microseconds and a conversion checks on every
  // row, so events are looked for at most this often (0: on every call).
  void setEventInterval(std::chrono::nanoseconds interval) { eventInterval_ = interval; }

  TForm1& form() { return *form_; }
  // Positions and sizes of the layout are multiplied by this.
  double scale() const { return scale_; }
  // The widget built for a control of the layout.
  QWidget* widget(ui::Id id) const { return widgets_[static_cast<std::size_t>(id)]; }
  // Where a control of the layout goes: its rectangle scaled, except that a
  // label is sized to its text and keeps its right edge.
  QRect Place(const ui::Control& control) const;
  // How far a disabled label's etched copy is shifted: one layout pixel.
  int etch() const;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  QWidget* CreateControl(const ui::Control& control);
  void Dispatch(void (TForm1::*handler)());
  void Dispatch(const std::function<void()>& handler);

  double scale_ = 1.0;
  std::array<QWidget*, ui::kControls.size()> widgets_{};
  std::unique_ptr<TForm1> form_;
  std::chrono::nanoseconds eventInterval_ = std::chrono::milliseconds(1);
  QElapsedTimer sinceEvents_;
  bool centred_ = false;
  bool closePending_ = false;
};

// The generic error box, titled after the executable; parent may be null,
// as for a message before the window.
void ShowErrorBox(QWidget* parent, const std::string& text);

}  // namespace halfmap::qt
