// Builds bitmaps in memory for tests, field by field, with any
// header field open to change so broken inputs are easy to make. The
// defaults give the tool's original layout: 40-byte header, 8 bits, 256
// palette entries, pixels at 1078.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "tests/support/temp_folder.h"

namespace testing_support {

struct BmpFields {
  std::int32_t width = 4;
  std::int32_t height = 4;
  // Colour index of the pixel at (x, y), y counted in file order.
  std::function<std::uint8_t(int x, int y)> pixel = [](int x, int y) {
    return static_cast<std::uint8_t>(x * 16 + y);
  };
  std::uint8_t filler = 0xEE;  // row filler, so tests see it never leaks
  // Rows are stored at 1, 2, 4 or 8 bits; at 16, 24, 32 and 64 byte i of a
  // pixel of index v is v * (2i + 1) + 0x35 i; at any other depth one byte a
  // pixel.
  std::uint16_t bitCount = 8;
  // 1 (at 8 bits) and 2 (at 4 bits) store the rows run-length encoded, with
  // deltas, end-of-line and end-of-bitmap codes over pixels of index 0.
  std::uint32_t compression = 0;
  // Run-length rows coded over the width rounded up to a multiple of 4, as
  // writers that pad rows do: runs pass the row's end.
  bool paddedRuns = false;
  std::uint32_t infoSize = 40;  // 12 writes the OS/2 1.x header
  // With compression 3 or 6: after a 40-byte header (three, or four for 6),
  // or in the header as far as it reaches.
  std::array<std::uint32_t, 4> masks = {0xF800, 0x07E0, 0x001F, 0};
  std::uint32_t paletteEntries = 256;
  std::optional<std::uint32_t> coloursUsed{};  // the field; paletteEntries if unset
  std::uint32_t gap = 0;                     // bytes between palette and pixels
  std::optional<std::uint32_t> pixelOffset{};  // the field only; rows follow the gap
  Bytes profile{};  // with a 124-byte header: an embedded profile after the pixels
  char type[2] = {'B', 'M'};
};

// The rows are |height| long, in file order.
Bytes MakeBmp(const BmpFields& bmp);

// The stored pixel rows alone: packed, or run-length encoded as above.
Bytes EncodeRows(const BmpFields& bmp);

// Reads a little-endian field of a built or converted file.
std::uint32_t U32At(const Bytes& bytes, std::size_t offset);
std::int32_t I32At(const Bytes& bytes, std::size_t offset);

}  // namespace testing_support
