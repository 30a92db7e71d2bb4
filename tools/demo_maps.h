// Demo maps for a first look at the tool: the three inputs of one made-up
// area (terrain, roads, and buildings as the fixed objects), written as the
// uncompressed 8-bit palette bitmaps the tool reads, with a full palette.
// The same size always gives the same bytes.
#pragma once

#include <filesystem>

namespace demo {

struct MapSize {
  int width = 2400;  // about 3.7 MiB a map
  int height = 1600;
};

// Writes MAP29361206-1.BMP, -NS1.BMP and -X1.BMP into folder, replacing
// files of those names. Throws std::runtime_error when a file cannot be
// written.
void WriteDemoMaps(const std::filesystem::path& folder, MapSize size = {});

}  // namespace demo
