// The tool on Linux: one window over the maps of the folder given, or
// beside the executable.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/map_folder.h"
#include "app/qt/main_window.h"
#include "app/qt/plugin_paths.h"
#include "mapconv/file_services.h"

namespace {

// Installed programs lie here, never beside maps.
const std::filesystem::path kSystemFolders[] = {"/usr", "/bin", "/sbin", "/opt"};

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
  // argv now holds what Qt left of it, its own options taken out.
  std::vector<std::filesystem::path> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::error_code unknown;  // a current folder that is gone: arguments stay relative
  const halfmap::FolderChoice choice = halfmap::ChooseMapFolder(args, mapconv::fs::ExecutablePath(),
                                                                std::filesystem::current_path(unknown), kSystemFolders);
  if (!choice.message.empty()) halfmap::qt::ShowErrorBox(nullptr, choice.message);
  halfmap::qt::MainWindow window(choice.folder);
  window.show();
  return app.exec();
}
