// Generated benchmark maps, one folder per size, made once per process and
// removed when it ends.
#pragma once

#include <filesystem>

#include "bench/map_generator.h"

namespace bench {

// Generates size x size in the layout as the Normal input in a folder of its
// own on first use, reads it once so it is in the page cache, and makes that
// folder the app folder. Returns the folder.
const std::filesystem::path& MapFolder(int size, Layout layout = Layout::Bits8);

}  // namespace bench
