// Makes large, realistic-looking maps for the benchmarks: smooth terrain
// bands, grid lines and noise, drawn through a shuffled palette so
// neighbouring indices are unrelated colours, in every layout the peers
// write. The same size and layout always give the same bytes, and rows are
// written one at a time, so a 256 MiB map needs no more than one row of
// memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace bench {

// Palette maps at 1, 4 and 8 bits, run-length maps, and maps whose pixels
// are colours (16 bits 5-5-5, 24 and 32 bits).
enum class Layout { Bits1, Bits4, Bits8, Rle8, Rle4, Bits16, Bits24, Bits32 };

// The layout named "1", "4", "8", "rle8", "rle4", "16", "24" or "32", and
// the other way round.
std::optional<Layout> LayoutNamed(std::string_view name);
std::string_view NameOf(Layout layout);

// Writes a width x height map to path. Raises std::runtime_error on failure.
void WriteMap(const std::filesystem::path& path, std::int32_t width, std::int32_t height,
              Layout layout = Layout::Bits8);

}  // namespace bench
