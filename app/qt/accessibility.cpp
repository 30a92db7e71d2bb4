#include "app/qt/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QStatusBar>

#include "app/qt/main_window.h"

namespace halfmap::qt {
namespace {

// The status bar as one line of read-only text: no caret, no selection.
class StatusText final : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit StatusText(QStatusBar* status) : QAccessibleWidget(status, QAccessible::StatusBar) {}

  QString text(QAccessible::Text kind) const override {
    return kind == QAccessible::Name ? message() : QAccessibleWidget::text(kind);
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(int start, int end) const override { return message().mid(start, end - start); }
  int characterCount() const override { return static_cast<int>(message().size()); }
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    return {};
  }

 private:
  QString message() const { return static_cast<QStatusBar*>(widget())->currentMessage(); }
};

// Asked for each class from the most derived one up; null passes the object
// on to Qt's own interfaces.
QAccessibleInterface* Create(const QString& className, QObject* object) {
  if (className == QLatin1String("QWidget")) {
    if (auto* window = dynamic_cast<MainWindow*>(object)) return new QAccessibleWidget(window, QAccessible::Dialog);
  }
  if (className == QLatin1String("QStatusBar")) {
    if (auto* status = dynamic_cast<Status*>(object)) return new StatusText(status);
  }
  if (className == QLatin1String("QWidget")) {
    if (auto* notice = dynamic_cast<Notice*>(object)) return new QAccessibleWidget(notice, QAccessible::Notification);
  }
  return nullptr;
}

}  // namespace

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&Create);
    return true;
  }();
  (void)installed;
}

Notice::Notice(QWidget* parent) : QWidget(parent) {
  setGeometry(0, 0, 0, 0);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
}

void Notice::Show(const QString& text) {
  // Hidden first: only a notification that appears is spoken.
  hide();
  setAccessibleName(text);
  show();
}

void AnnounceStatus(QStatusBar* status, Notice& notice, const QString& before, const QString& after,
                    const QString& description) {
  // Spoken with the window when it is announced, as on opening.
  status->window()->setAccessibleDescription(description);
  if (before == after) return;
  notice.Show(after);
  if (!QAccessible::isActive()) return;
  QAccessibleTextUpdateEvent event(status, 0, before, after);
  QAccessible::updateAccessibility(&event);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
  // Polite by default; screen readers that take announcements get the
  // status from them as well.
  QAccessibleAnnouncementEvent announcement(status, after);
  QAccessible::updateAccessibility(&announcement);
#endif
}

}  // namespace halfmap::qt
