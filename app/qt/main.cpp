// The tool on Linux: one window over the maps beside the executable.
#include <QApplication>

#include "app/qt/main_window.h"
#include "app/qt/plugin_paths.h"

int main(int argc, char** argv) {
  halfmap::qt::KeepPluginsToQtFolders();
  QApplication app(argc, argv);
  halfmap::qt::MainWindow window;
  window.show();
  return app.exec();
}
