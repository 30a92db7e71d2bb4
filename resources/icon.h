// The icon's resource id in both Windows executables. The lowest id is the
// one Explorer shows for the file.
#pragma once

#define HALFMAP_ICON 1
