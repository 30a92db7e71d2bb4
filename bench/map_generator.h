// Makes large, realistic-looking 8-bit palette maps for the benchmarks:
// smooth terrain bands, grid lines and noise, drawn through a shuffled
// palette so neighbouring indices are unrelated colours. The same size always
// gives the same bytes, and rows are written one at a time, so a 256 MiB map
// needs no more than one row of memory.
#pragma once

#include <cstdint>
#include <filesystem>

namespace bench {

// Writes a width x height map to path, its rows RLE8-encoded when rle is
// set. Raises std::runtime_error on failure.
void WriteMap(const std::filesystem::path& path, std::int32_t width, std::int32_t height, bool rle = false);

}  // namespace bench
