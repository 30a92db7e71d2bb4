#include "bench/map_generator.h"

#include <array>
#include <cstdio>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace bench {
namespace {

constexpr std::uint32_t kPrefixSize = 1078;

// A small fixed-seed generator, so maps are the same on every machine.
class SplitMix {
 public:
  explicit SplitMix(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

void PutLe(std::vector<unsigned char>& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::array<std::uint8_t, 256> ShuffledIndices(SplitMix& random) {
  std::array<std::uint8_t, 256> order{};
  std::iota(order.begin(), order.end(), 0);
  for (std::size_t i = order.size() - 1; i > 0; --i) {
    std::swap(order[i], order[random.Next() % (i + 1)]);
  }
  return order;
}

std::vector<unsigned char> Prefix(std::int32_t width, std::int32_t height, bool rle, SplitMix& random) {
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) + 3) / 4 * 4;
  const std::uint64_t image = stride * static_cast<std::uint64_t>(height);
  std::vector<unsigned char> out{'B', 'M'};
  PutLe(out, static_cast<std::uint32_t>(kPrefixSize + image), 4);
  PutLe(out, 0, 4);
  PutLe(out, kPrefixSize, 4);
  PutLe(out, 40, 4);
  PutLe(out, static_cast<std::uint32_t>(width), 4);
  PutLe(out, static_cast<std::uint32_t>(height), 4);
  PutLe(out, 1, 2);
  PutLe(out, 8, 2);
  PutLe(out, rle ? 1 : 0, 4);
  PutLe(out, static_cast<std::uint32_t>(image), 4);  // for run-length rows, patched at the end
  PutLe(out, 2835, 4);
  PutLe(out, 2835, 4);
  PutLe(out, 256, 4);
  PutLe(out, 0, 4);
  for (int i = 0; i < 256; ++i) {
    const std::uint64_t bgr = random.Next();
    PutLe(out, static_cast<std::uint32_t>(bgr & 0xFFFFFF), 4);
  }
  return out;
}

// Terrain: diagonal bands whose width drifts down the map, a grid every 256
// pixels, and a little noise so no two rows are alike.
void FillRow(std::vector<unsigned char>& row, std::int32_t width, std::int32_t y,
             const std::array<std::uint8_t, 256>& palette, SplitMix& random) {
  const std::uint32_t yy = static_cast<std::uint32_t>(y);
  for (std::int32_t x = 0; x < width; ++x) {
    const std::uint32_t xx = static_cast<std::uint32_t>(x);
    std::uint32_t level = ((xx + yy) >> 5) + ((xx * 3 + (yy >> 2)) >> 7);
    if ((xx & 255) == 0 || (yy & 255) == 0) level = 255;
    if ((x & 7) == 0) level += static_cast<std::uint32_t>(random.Next() & 3);
    row[static_cast<std::size_t>(x)] = palette[level & 255];
  }
}

// One row as RLE8 codes, as common writers make them: runs of two or more
// equal pixels, literals of three or more, and an end-of-line.
void EncodeRow(const std::vector<unsigned char>& row, std::int32_t width, std::vector<unsigned char>& out) {
  out.clear();
  const auto w = static_cast<std::size_t>(width);
  auto runAt = [&](std::size_t x) {
    std::size_t n = 1;
    while (n < 255 && x + n < w && row[x + n] == row[x]) ++n;
    return n;
  };
  for (std::size_t x = 0; x < w;) {
    std::size_t n = runAt(x);
    if (n >= 2) {
      out.insert(out.end(), {static_cast<unsigned char>(n), row[x]});
      x += n;
      continue;
    }
    n = 1;
    while (n < 255 && x + n < w && runAt(x + n) < 2) ++n;
    if (n < 3) {
      for (std::size_t i = 0; i < n; ++i) out.insert(out.end(), {1, row[x + i]});
    } else {
      out.insert(out.end(), {0, static_cast<unsigned char>(n)});
      out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(x), row.begin() + static_cast<std::ptrdiff_t>(x + n));
      if (n % 2 == 1) out.push_back(0);
    }
    x += n;
  }
  out.insert(out.end(), {0, 0});
}

bool PatchLe(std::FILE* file, long at, std::uint32_t value) {
  std::vector<unsigned char> bytes;
  PutLe(bytes, value, 4);
  return std::fseek(file, at, SEEK_SET) == 0 && std::fwrite(bytes.data(), 1, 4, file) == 4;
}

}  // namespace

void WriteMap(const std::filesystem::path& path, std::int32_t width, std::int32_t height, bool rle) {
  if (width <= 0 || height <= 0) throw std::runtime_error("map sizes must be positive");
  SplitMix random(static_cast<std::uint64_t>(width) << 32 | static_cast<std::uint32_t>(height));
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) throw std::runtime_error("cannot create " + path.string());
  const auto prefix = Prefix(width, height, rle, random);
  const auto palette = ShuffledIndices(random);
  std::vector<unsigned char> row((static_cast<std::size_t>(width) + 3) / 4 * 4, 0);
  std::vector<unsigned char> codes;
  std::uint64_t written = 0;
  bool ok = std::fwrite(prefix.data(), 1, prefix.size(), file.get()) == prefix.size();
  for (std::int32_t y = 0; ok && y < height; ++y) {
    FillRow(row, width, y, palette, random);
    if (rle) EncodeRow(row, width, codes);
    const auto& out = rle ? codes : row;
    ok = std::fwrite(out.data(), 1, out.size(), file.get()) == out.size();
    written += out.size();
  }
  if (rle && ok) {
    static const unsigned char kEnd[] = {0, 1};
    ok = std::fwrite(kEnd, 1, 2, file.get()) == 2;
    written += 2;
    ok = ok && PatchLe(file.get(), 2, static_cast<std::uint32_t>(kPrefixSize + written)) &&
         PatchLe(file.get(), 34, static_cast<std::uint32_t>(written));
  }
  if (!ok || std::fflush(file.get()) != 0) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace bench
