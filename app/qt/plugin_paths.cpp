#include "app/qt/plugin_paths.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace halfmap::qt {
namespace {

bool Under(const QString& path, const QString& folder) {
  const QString canonical = QDir(path).canonicalPath();
  return canonical == folder || canonical.startsWith(folder + u'/');
}

}  // namespace

void KeepPluginsToQtFolders() {
  const QString exeFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
  if (exeFolder.isEmpty()) return;
  // Paths set before the application exists are kept as a change to the
  // list Qt had then, replayed on the list it makes once it can name the
  // executable's folder, which it then adds. So that folder is put in the
  // first list (through QT_PLUGIN_PATH, for this one look) and left out of
  // the list set: the replay takes it out again.
  const bool hadPluginPath = qEnvironmentVariableIsSet("QT_PLUGIN_PATH");
  const QByteArray pluginPath = qgetenv("QT_PLUGIN_PATH");
  qputenv("QT_PLUGIN_PATH", QFile::encodeName(exeFolder) + (pluginPath.isEmpty() ? "" : ":" + pluginPath));
  QStringList paths = QCoreApplication::libraryPaths();
  if (hadPluginPath) {
    qputenv("QT_PLUGIN_PATH", pluginPath);
  } else {
    qunsetenv("QT_PLUGIN_PATH");
  }
  paths.removeIf([&](const QString& path) { return Under(path, exeFolder); });
  QCoreApplication::setLibraryPaths(paths);
}

}  // namespace halfmap::qt
