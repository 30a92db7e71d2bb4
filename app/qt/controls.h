// The window's controls as Qt widgets, each carrying out one control
// contract of app/window_layer.h. The main window creates them with itself
// as parent, which owns them.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QString>
#include <QWidget>
#include <string>

#include "app/qt/accessibility.h"
#include "app/window_layer.h"

namespace halfmap::qt {

// A label sized to its text, its right edge where the layout puts it, so it
// reads as the caption of the bar beside it. Disabled, it is drawn etched
// and takes its bar (its buddy) with it, so assistive tools see which map
// is missing. Qt's own label gives it its accessible role and name.
class Label final : public QLabel, public LabelControl {
 public:
  // etch: how far right and down the etched copy lies, in pixels.
  Label(const QString& text, int etch, QWidget* parent);
  bool Enabled() const override { return isEnabled(); }
  void SetEnabled(bool enabled) override;
  // The size its text needs, the etched copy included.
  QSize textSize() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int etch_;
};

// A sunken bar filled with segments. It asks for a repaint only when the
// filled length changes (a conversion sets the position on every row, far
// more often than the bar has pixels), and then only of the pixels that
// changed, which it paints alone, background included. It tells assistive
// tools its value only at each whole tenth (see WholeTenths). Qt's own
// progress bar carries the value and range they read.
class Bar final : public QProgressBar, public ProgressBarControl {
 public:
  explicit Bar(QWidget* parent);
  // Pixels filled inside the frame.
  int filledLength() const { return filled_; }
  int segmentWidth() const;

 protected:
  void Draw(int min, int max, int position) override;
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where the segments go: inside the frame and a one-pixel margin.
  QRect Inside() const;

  int filled_ = 0;
};

class Button final : public QPushButton, public ButtonControl {
 public:
  Button(const QString& text, QWidget* parent);
  bool Enabled() const override { return isEnabled(); }
  void SetEnabled(bool enabled) override { setEnabled(enabled); }
  void SetText(std::string_view text) override;
  void SetFocus() override { setFocus(Qt::OtherFocusReason); }
};

// Single-text mode: one message, no panels, no size grip. A new message is
// announced to assistive tools (see accessibility.h). The folder the window
// works on, when shown, is its tooltip and follows the status in the
// window's description.
class Status final : public QStatusBar, public StatusControl {
 public:
  explicit Status(QWidget* parent);
  void SetText(std::string_view text) override;
  void SetFolder(std::string_view folder);

 private:
  QString Description() const;

  Notice* notice_;  // owned by the parent, as this is
  std::string folder_;
};

// The lowered box around the labels and bars.
class Bevel final : public QWidget {
 public:
  explicit Bevel(QWidget* parent) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

QString FromUtf8(std::string_view text);

}  // namespace halfmap::qt
