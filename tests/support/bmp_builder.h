// Builds 8-bit palette bitmaps in memory for tests, field by field, with
// any header field open to change so broken inputs are easy to make.
#pragma once

#include <cstdint>
#include <functional>

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
  std::uint16_t bitCount = 8;
  std::uint32_t compression = 0;
  std::uint32_t pixelOffset = 1078;
  char type[2] = {'B', 'M'};
};

// The rows are |height| long, in file order.
Bytes MakeBmp(const BmpFields& bmp);

// Reads a little-endian field of a built or converted file.
std::uint32_t U32At(const Bytes& bytes, std::size_t offset);
std::int32_t I32At(const Bytes& bytes, std::size_t offset);

}  // namespace testing_support
