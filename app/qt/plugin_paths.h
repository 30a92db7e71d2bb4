// Where the window's Qt looks for plugins.
#pragma once

namespace halfmap::qt {

// Keeps Qt's plugin search to Qt's own folders, never the executable's
// folder (the maps folder, which others may write to) nor one under it.
// Called before the application object exists, which is when Qt loads its
// platform plugin.
void KeepPluginsToQtFolders();

}  // namespace halfmap::qt
