#include "mapconv/sub_byte_pixels.h"

namespace mapconv {
namespace {

// Shifts and masks only, so the loops below vectorise.
template <int Bits>
unsigned Kept(unsigned byte) {
  if constexpr (Bits == 4) {
    return byte >> 4;
  } else if constexpr (Bits == 2) {
    return (byte >> 4 & 0xC) | (byte >> 2 & 0x3);  // pixels 0 and 2
  } else {
    return (byte >> 4 & 0x8) | (byte >> 3 & 0x4) | (byte >> 2 & 0x2) | (byte >> 1 & 0x1);  // 0, 2, 4, 6
  }
}

template <int Bits>
void Pack(const unsigned char* __restrict src, unsigned char* __restrict dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    dst[i] = static_cast<unsigned char>(Kept<Bits>(src[2 * i]) << 4 | Kept<Bits>(src[2 * i + 1]));
  }
}

}  // namespace

unsigned KeptNibble(int bits, unsigned byte) {
  return bits == 4 ? Kept<4>(byte) : bits == 2 ? Kept<2>(byte) : Kept<1>(byte);
}

void PackKeptNibbles(int bits, const unsigned char* src, unsigned char* dst, std::size_t count) {
  if (bits == 4) return Pack<4>(src, dst, count);
  if (bits == 2) return Pack<2>(src, dst, count);
  Pack<1>(src, dst, count);
}

void PackKeptIndices(const unsigned char* __restrict src, unsigned char* __restrict dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dst[i] = static_cast<unsigned char>(src[4 * i] << 4 | (src[4 * i + 2] & 0x0F));
}

}  // namespace mapconv
