#include "app/qt/controls.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <qdrawutil.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>

namespace halfmap::qt {
namespace {
constexpr int kFrame = 1;
constexpr int kSegmentGap = 2;
}  // namespace

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Label::Label(const QString& text, int etch, QWidget* parent) : QLabel(text, parent), etch_(etch) {
  setFocusPolicy(Qt::NoFocus);
}

void Label::SetEnabled(bool enabled) {
  setEnabled(enabled);
  if (QWidget* bar = buddy()) bar->setEnabled(enabled);
}

QSize Label::textSize() const {
  const QFontMetrics metrics(font());
  return {metrics.horizontalAdvance(text()) + etch_, metrics.height() + etch_};
}

void Label::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  constexpr int flags = Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine;
  // Room for the etched copy right and below.
  const QRect place = rect().adjusted(0, 0, -etch_, -etch_);
  const QPalette& colours = palette();
  if (isEnabled()) {
    painter.setPen(colours.color(QPalette::Active, QPalette::WindowText));
  } else {
    painter.setPen(colours.color(QPalette::Active, QPalette::Light));
    painter.drawText(place.translated(etch_, etch_), flags, text());
    painter.setPen(colours.color(QPalette::Active, QPalette::Dark));
  }
  painter.drawText(place, flags, text());
}

Bar::Bar(QWidget* parent) : QProgressBar(parent) {
  setFocusPolicy(Qt::NoFocus);
  setTextVisible(false);
  setRange(Min(), Max());
  setValue(Position());
}

int Bar::segmentWidth() const { return std::max(2, height() * 2 / 3); }

void Bar::Draw(int min, int max, int position) {
  const bool newRange = min != minimum() || max != maximum();
  if (newRange) setRange(min, max);
  const std::int64_t span = std::int64_t{max} - min;
  const std::int64_t inside = std::max(0, width() - 2 * kFrame);
  const int filled = span == 0 ? 0 : static_cast<int>((std::int64_t{position} - min) * inside / span);
  if (newRange) {
    filled_ = filled;
    update();
  } else if (filled != filled_) {
    // Only the strip between the old and new ends changes.
    const QRect area = Inside();
    update(area.left() + std::min(filled, filled_), area.top(), std::abs(filled - filled_), area.height());
    filled_ = filled;
  }
  if (!newRange && WholeTenths(min, max, position) == WholeTenths(min, max, value())) return;
  // setValue repaints at once and announces the value; with updates off
  // only the announcement happens, and turning them on queues the repaint.
  setUpdatesEnabled(false);
  setValue(position);
  setUpdatesEnabled(true);
}

bool Bar::event(QEvent* event) {
  const bool handled = QProgressBar::event(event);
  // It paints its own background, so a repaint of a few of its pixels
  // does not repaint the window and the bevel beneath as well. Set once the
  // style has polished the bar, as the style clears it.
  if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange) setAttribute(Qt::WA_OpaquePaintEvent);
  return handled;
}

QRect Bar::Inside() const { return rect().adjusted(kFrame + 1, kFrame + 1, -kFrame - 1, -kFrame - 1); }

void Bar::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  // The bar of a missing map is disabled for assistive tools only; it is
  // drawn in the colours of an enabled one.
  QPalette colours = palette();
  colours.setCurrentColorGroup(isActiveWindow() ? QPalette::Active : QPalette::Inactive);
  // Drawn whole, as it is opaque; the painter keeps to the region asked for.
  painter.fillRect(rect(), colours.window());
  const QRect inside = Inside();
  // The frame costs more than the rest, and most repaints lie inside it.
  if (!inside.contains(event->rect())) qDrawShadePanel(&painter, rect(), colours, true, kFrame);
  const int step = segmentWidth() + kSegmentGap;
  const QBrush fill = colours.brush(QPalette::Active, QPalette::Highlight);
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

Status::Status(QWidget* parent) : QStatusBar(parent), notice_(new Notice(parent)) { setSizeGripEnabled(false); }

void Status::SetText(std::string_view text) {
  const QString before = currentMessage();
  // QStatusBar announces the change as a new name; the rest is told to
  // assistive tools by AnnounceStatus.
  showMessage(FromUtf8(text));
  AnnounceStatus(this, *notice_, before, currentMessage(), Description());
}

void Status::SetFolder(std::string_view folder) {
  folder_ = folder;
  setToolTip(FromUtf8(folder));
  window()->setAccessibleDescription(Description());
}

QString Status::Description() const { return FromUtf8(WindowDescription(currentMessage().toStdString(), folder_)); }

}  // namespace halfmap::qt
