#include "app/qt/controls.h"

#include <QPainter>
#include <QPalette>
#include <qdrawutil.h>

#include <algorithm>
#include <cstdint>

namespace halfmap::qt {
namespace {
constexpr int kFrame = 1;
constexpr int kSegmentGap = 2;
}  // namespace

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Label::Label(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  setFocusPolicy(Qt::NoFocus);
}

void Label::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  constexpr int flags = Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine;
  // Room for the etched copy one pixel right and down.
  const QRect place = rect().adjusted(0, 0, -1, -1);
  const QPalette& colours = palette();
  if (isEnabled()) {
    painter.setPen(colours.color(QPalette::Active, QPalette::WindowText));
  } else {
    painter.setPen(colours.color(QPalette::Active, QPalette::Light));
    painter.drawText(place.translated(1, 1), flags, text_);
    painter.setPen(colours.color(QPalette::Active, QPalette::Dark));
  }
  painter.drawText(place, flags, text_);
}

Bar::Bar(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::NoFocus); }

int Bar::segmentWidth() const { return std::max(2, height() * 2 / 3); }

void Bar::Draw(int min, int max, int position) {
  const std::int64_t span = std::int64_t{max} - min;
  const std::int64_t inside = std::max(0, width() - 2 * kFrame);
  const int filled = span == 0 ? 0 : static_cast<int>((std::int64_t{position} - min) * inside / span);
  if (filled == filled_) return;
  filled_ = filled;
  update();
}

void Bar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  qDrawShadePanel(&painter, rect(), palette(), true, kFrame);
  const QRect inside = rect().adjusted(kFrame + 1, kFrame + 1, -kFrame - 1, -kFrame - 1);
  const int step = segmentWidth() + kSegmentGap;
  const QBrush fill = palette().brush(QPalette::Active, QPalette::Highlight);
  for (int x = 0; x < filled_ && x < inside.width(); x += step) {
    const int width = std::min({segmentWidth(), filled_ - x, inside.width() - x});
    painter.fillRect(inside.left() + x, inside.top(), width, inside.height(), fill);
  }
}

void Bevel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  qDrawShadeRect(&painter, rect(), palette(), true, 1, 0);
}

Button::Button(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setFocusPolicy(Qt::StrongFocus);
  // Outside a dialog a push button ignores Enter unless told otherwise.
  setAutoDefault(true);
}

void Button::SetText(std::string_view text) { setText(FromUtf8(text)); }

Status::Status(QWidget* parent) : QStatusBar(parent) { setSizeGripEnabled(false); }

void Status::SetText(std::string_view text) { showMessage(FromUtf8(text)); }

}  // namespace halfmap::qt
