#include "tests/support/bmp_builder.h"

#include <cstdlib>

namespace testing_support {
namespace {

void Put(Bytes& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(std::byte(value >> (8 * i)));
}

}  // namespace

Bytes MakeBmp(const BmpFields& bmp) {
  const std::int64_t rows = std::llabs(bmp.height);
  const std::int64_t stride = bmp.width > 0 ? (bmp.width + 3) / 4 * 4 : 0;
  Bytes out;
  out.push_back(std::byte(bmp.type[0]));
  out.push_back(std::byte(bmp.type[1]));
  Put(out, static_cast<std::uint32_t>(1078 + stride * rows), 4);
  Put(out, 0, 4);  // reserved
  Put(out, bmp.pixelOffset, 4);
  Put(out, 40, 4);
  Put(out, static_cast<std::uint32_t>(bmp.width), 4);
  Put(out, static_cast<std::uint32_t>(bmp.height), 4);
  Put(out, 1, 2);
  Put(out, bmp.bitCount, 2);
  Put(out, bmp.compression, 4);
  Put(out, static_cast<std::uint32_t>(stride * rows), 4);
  Put(out, 2835, 4);
  Put(out, 2835, 4);
  Put(out, 256, 4);
  Put(out, 0, 4);
  for (int i = 0; i < 256; ++i) Put(out, 0x00010203u * static_cast<std::uint32_t>(i) & 0x00FFFFFF, 4);
  for (std::int64_t y = 0; y < rows; ++y) {
    for (std::int64_t x = 0; x < stride; ++x) {
      out.push_back(std::byte(x < bmp.width ? bmp.pixel(static_cast<int>(x), static_cast<int>(y))
                                             : bmp.filler));
    }
  }
  return out;
}

std::uint32_t U32At(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | std::to_integer<std::uint32_t>(bytes.at(offset + i));
  return value;
}

std::int32_t I32At(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::int32_t>(U32At(bytes, offset));
}

}  // namespace testing_support
