// halfmap-window-run FOLDER: one whole run through the Qt window under the
// offscreen platform, over the maps in FOLDER, started as a click on Run
// starts it. Prints the seconds from the click to the end of the run, after
// the last output's rename; fails unless the run finished.
#include <QApplication>
#include <QPushButton>
#include <QStatusBar>

#include <chrono>
#include <cstdio>

#include "app/qt/main_window.h"
#include "mapconv/test_hooks.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  mapconv::hooks::SetAppFolder(argv[1]);
  halfmap::qt::MainWindow window;
  window.show();
  QCoreApplication::processEvents();  // the start-up probe
  auto* run = static_cast<QPushButton*>(window.widget(halfmap::ui::Id::Button1));
  if (!run->isEnabled()) {
    std::fprintf(stderr, "no map in %s\n", argv[1]);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  run->click();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const QString status = static_cast<QStatusBar*>(window.widget(halfmap::ui::Id::Stsbar))->currentMessage();
  if (status != halfmap::qt::FromUtf8(halfmap::ui::text::kFinished)) {
    std::fprintf(stderr, "run ended with \"%s\"\n", status.toUtf8().constData());
    return 1;
  }
  std::printf("seconds %.4f\n", took.count());
  return 0;
}
