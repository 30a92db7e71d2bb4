// What assistive tools see of the window beyond what Qt's own widgets
// expose: the window as a dialog named by its caption, and the status bar
// as read-only text whose changes are announced with the old and new text.
#pragma once

#include <QString>

class QStatusBar;

namespace halfmap::qt {

// Once per program, before the window is first asked for; later calls do
// nothing.
void InstallAccessibility();

// Tells assistive tools that the status bar's text went from before to
// after; does nothing while none is listening.
void AnnounceTextChange(QStatusBar* status, const QString& before, const QString& after);

}  // namespace halfmap::qt
