// What assistive tools see of the window beyond what Qt's own widgets
// expose: the window as a dialog named by its caption and described by the
// status, the status bar as read-only text whose changes are announced with
// the old and new text, and a notification shown on each new status.
#pragma once

#include <QString>
#include <QWidget>

class QStatusBar;

namespace halfmap::qt {

// Once per program, before the window is first asked for; later calls do
// nothing.
void InstallAccessibility();

// Nothing on screen: a widget of no size that assistive tools see as a
// notification named by the status. A screen reader speaks a notification
// when it is shown, wherever the focus is, where it ignores text changes of
// anything but the focused control.
class Notice final : public QWidget {
 public:
  explicit Notice(QWidget* parent);
  void Show(const QString& text);
};

// Tells assistive tools that the status went from before to after: the
// window's description becomes description (the new status, and the
// folder where one is shown), the status bar announces the text change,
// and notice is shown again with the new text.
void AnnounceStatus(QStatusBar* status, Notice& notice, const QString& before, const QString& after,
                    const QString& description);

}  // namespace halfmap::qt
