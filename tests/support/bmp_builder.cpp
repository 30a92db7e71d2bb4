#include "tests/support/bmp_builder.h"

#include <algorithm>
#include <cstdlib>

namespace testing_support {
namespace {

void Put(Bytes& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(std::byte(value >> (8 * i)));
}

void PutAt(Bytes& out, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size && at + i < out.size(); ++i) out[at + i] = std::byte(value >> (8 * i));
}

bool Packed(const BmpFields& bmp) { return bmp.bitCount == 1 || bmp.bitCount == 2 || bmp.bitCount == 4 || bmp.bitCount == 8; }
bool Wide(const BmpFields& bmp) { return bmp.bitCount == 16 || bmp.bitCount == 24 || bmp.bitCount == 32 || bmp.bitCount == 64; }

std::int64_t Stride(const BmpFields& bmp) {
  if (bmp.width <= 0) return 0;
  const int bits = Packed(bmp) || Wide(bmp) ? bmp.bitCount : 8;
  return (std::int64_t{bmp.width} * bits + 31) / 32 * 4;
}

// Whole pixels of several bytes, then the filler to the stride.
void PutWideRows(const BmpFields& bmp, Bytes& out) {
  for (int y = 0; y < std::abs(bmp.height); ++y) {
    const std::size_t start = out.size();
    for (int x = 0; x < bmp.width; ++x) {
      const unsigned v = bmp.pixel(x, y);
      for (unsigned i = 0; i < bmp.bitCount / 8u; ++i) out.push_back(std::byte(v * (2 * i + 1) + 0x35 * i));
    }
    out.resize(start + static_cast<std::size_t>(Stride(bmp)), std::byte{bmp.filler});
  }
}

// Bit-packed rows, most significant bits first; past the width the
// filler's bits, so a leak would show.
void PutStoredRows(const BmpFields& bmp, Bytes& out) {
  if (Wide(bmp)) return PutWideRows(bmp, out);
  const int bits = Packed(bmp) ? bmp.bitCount : 8;
  const int perByte = 8 / bits;
  for (int y = 0; y < std::abs(bmp.height); ++y) {
    for (std::int64_t k = 0; k < Stride(bmp); ++k) {
      unsigned byte = 0;
      for (int i = 0; i < perByte; ++i) {
        const std::int64_t x = k * perByte + i;
        const unsigned v = x < bmp.width ? bmp.pixel(static_cast<int>(x), y) : bmp.filler;
        byte = byte << bits | (v & ((1u << bits) - 1));
      }
      out.push_back(std::byte(byte));
    }
  }
}

// A plain run-length encoder: runs of two or more equal pixels (RLE4: of a
// repeating pair), literals of three or more, deltas over stretches of zeros
// and over whole zero rows, end-of-line and end-of-bitmap.
class RleEncoder {
 public:
  RleEncoder(const BmpFields& bmp, Bytes& out)
      : bmp_(bmp), out_(out), four_(bmp.bitCount == 4), rows_(std::abs(bmp.height)),
        width_(bmp.paddedRuns ? (bmp.width + 3) / 4 * 4 : bmp.width) {}

  void Encode() {
    for (int y = 0; y < rows_;) {
      if (ZerosFrom(0, y) == width_) {
        int skip = 1;
        while (y + skip < rows_ && ZerosFrom(0, y + skip) == width_) ++skip;
        if (y + skip == rows_) break;
        Code(0, 2);
        Code(0, std::min(skip, 255));
        y += std::min(skip, 255);
        continue;
      }
      EncodeRow(y);
      Code(0, 0);
      ++y;
    }
    Code(0, 1);
  }

 private:
  unsigned P(int x, int y) const { return bmp_.pixel(x, y) & (four_ ? 0x0F : 0xFF); }
  void Code(unsigned a, unsigned b) {
    out_.push_back(std::byte(a));
    out_.push_back(std::byte(b));
  }

  int ZerosFrom(int x, int y) const {
    int n = 0;
    while (x + n < width_ && P(x + n, y) == 0) ++n;
    return n;
  }

  // Length of the run at x: equal pixels, or at 4 bits a repeating pair.
  int RunFrom(int x, int y) const {
    const int period = four_ ? 2 : 1;
    int n = 1;
    while (n < 255 && x + n < width_ && (n < period || P(x + n, y) == P(x + n - period, y))) ++n;
    return four_ && n == 2 && P(x, y) != P(x + 1, y) ? 1 : n;
  }

  void EncodeRow(int y) {
    int x = 0;
    while (x < width_) {
      const int zeros = ZerosFrom(x, y);
      if (zeros == width_ - x) return;  // the end-of-line passes over them
      if (zeros >= 2 && x + zeros <= bmp_.width) {  // moves stay inside the row
        const int step = std::min(zeros, 255);
        Code(0, 2);
        Code(static_cast<unsigned>(step), 0);
        x += step;
        continue;
      }
      const int run = RunFrom(x, y);
      if (run >= 2) {
        const unsigned pair = four_ ? P(x, y) << 4 | P(x + 1, y) : P(x, y);
        Code(static_cast<unsigned>(run), pair);
        x += run;
        continue;
      }
      int n = 1;
      while (n < 255 && x + n < width_ && RunFrom(x + n, y) < 2 && ZerosFrom(x + n, y) < 2) ++n;
      if (n < 3) {
        Code(1, four_ ? P(x, y) << 4 : P(x, y));
        ++x;
        continue;
      }
      Literal(x, y, n);
      x += n;
    }
  }

  void Literal(int x, int y, int n) {
    Code(0, static_cast<unsigned>(n));
    const std::size_t start = out_.size();
    for (int i = 0; i < n; i += four_ ? 2 : 1) {
      const unsigned low = four_ && i + 1 < n ? P(x + i + 1, y) : 0;
      out_.push_back(std::byte(four_ ? P(x + i, y) << 4 | low : P(x + i, y)));
    }
    if ((out_.size() - start) % 2 == 1) out_.push_back(std::byte{0});
  }

  const BmpFields& bmp_;
  Bytes& out_;
  const bool four_;
  const int rows_;
  const int width_;
};

}  // namespace

Bytes EncodeRows(const BmpFields& bmp) {
  Bytes rows;
  if (bmp.compression == 1 || bmp.compression == 2) {
    RleEncoder(bmp, rows).Encode();
  } else {
    PutStoredRows(bmp, rows);
  }
  return rows;
}

Bytes MakeBmp(const BmpFields& bmp) {
  const bool os2 = bmp.infoSize == 12;
  const std::uint32_t entrySize = os2 ? 3 : 4;
  const bool bitFields = bmp.compression == 3 || bmp.compression == 6;
  const std::uint32_t masksAfter = bitFields && bmp.infoSize == 40 ? (bmp.compression == 6 ? 16 : 12) : 0;
  const std::uint32_t offset = 14 + bmp.infoSize + masksAfter + bmp.paletteEntries * entrySize + bmp.gap;
  const Bytes rows = EncodeRows(bmp);
  const auto imageSize = static_cast<std::uint32_t>(rows.size());
  const bool withProfile = bmp.infoSize == 124 && !bmp.profile.empty();

  Bytes out;
  out.push_back(std::byte(bmp.type[0]));
  out.push_back(std::byte(bmp.type[1]));
  Put(out, static_cast<std::uint32_t>(offset + imageSize + (withProfile ? bmp.profile.size() : 0)), 4);
  Put(out, 0, 4);  // reserved
  Put(out, bmp.pixelOffset.value_or(offset), 4);
  Bytes info(bmp.infoSize);
  PutAt(info, 0, bmp.infoSize, 4);
  if (os2) {
    PutAt(info, 4, static_cast<std::uint32_t>(bmp.width), 2);
    PutAt(info, 6, static_cast<std::uint32_t>(bmp.height), 2);
    PutAt(info, 8, 1, 2);
    PutAt(info, 10, bmp.bitCount, 2);
  } else {
    PutAt(info, 4, static_cast<std::uint32_t>(bmp.width), 4);
    PutAt(info, 8, static_cast<std::uint32_t>(bmp.height), 4);
    PutAt(info, 12, 1, 2);
    PutAt(info, 14, bmp.bitCount, 2);
    PutAt(info, 16, bmp.compression, 4);
    PutAt(info, 20, imageSize, 4);
    PutAt(info, 24, 2835, 4);
    PutAt(info, 28, 2835, 4);
    PutAt(info, 32, bmp.coloursUsed.value_or(bmp.paletteEntries), 4);
  }
  for (std::uint32_t i = 0; bitFields && i < 4; ++i) PutAt(info, 40 + 4 * i, bmp.masks[i], 4);
  if (withProfile) {
    PutAt(info, 56, 0x4D424544, 4);  // 'MBED'
    PutAt(info, 112, offset + imageSize - 14, 4);
    PutAt(info, 116, static_cast<std::uint32_t>(bmp.profile.size()), 4);
  }
  out.insert(out.end(), info.begin(), info.end());
  for (std::uint32_t i = 0; i < masksAfter / 4; ++i) Put(out, bmp.masks[i], 4);
  for (std::uint32_t i = 0; i < bmp.paletteEntries; ++i) {
    Put(out, 0x00010203u * i & 0x00FFFFFF, static_cast<int>(entrySize));
  }
  out.resize(out.size() + bmp.gap, std::byte{0xA5});
  out.insert(out.end(), rows.begin(), rows.end());
  if (withProfile) out.insert(out.end(), bmp.profile.begin(), bmp.profile.end());
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
