// The tool on Linux: one window over the maps beside the executable.
#include <QApplication>
#include <QDir>
#include <QIcon>

#include "app/qt/main_window.h"
#include "app/qt/plugin_paths.h"

namespace {

// Every size drawn at build time (:/icons), so each screen gets a sharp one.
QIcon OwnIcon() {
  QIcon icon;
  const QDir images(":/icons");
  for (const QString& name : images.entryList(QDir::Files)) icon.addFile(images.filePath(name));
  return icon;
}

}  // namespace

int main(int argc, char** argv) {
  halfmap::qt::KeepPluginsToQtFolders();
  // The names the desktop matches the window with its entry by (WM_CLASS,
  // StartupWMClass=halfmap), whatever name the executable is started under.
  if (!qEnvironmentVariableIsSet("RESOURCE_NAME")) qputenv("RESOURCE_NAME", "halfmap");
  QApplication::setApplicationName("halfmap");
  QApplication::setDesktopFileName("halfmap");
  QApplication app(argc, argv);
  QApplication::setWindowIcon(OwnIcon());
  halfmap::qt::MainWindow window;
  window.show();
  return app.exec();
}
