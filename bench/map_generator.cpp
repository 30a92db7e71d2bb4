#include "bench/map_generator.h"

#include <array>
#include <cstdio>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <utility>
#include <vector>

namespace bench {
namespace {

struct Format {
  int bits;                  // per pixel
  std::uint32_t compression;  // 0, 1 (RLE8) or 2 (RLE4)
  std::uint32_t entries;      // palette entries
};

Format FormatOf(Layout layout) {
  switch (layout) {
    case Layout::Bits1: return {1, 0, 2};
    case Layout::Bits4: return {4, 0, 16};
    case Layout::Rle8: return {8, 1, 256};
    case Layout::Rle4: return {4, 2, 16};
    case Layout::Bits16: return {16, 0, 0};
    case Layout::Bits24: return {24, 0, 0};
    case Layout::Bits32: return {32, 0, 0};
    case Layout::Bits8: break;
  }
  return {8, 0, 256};
}

std::uint64_t Stride(std::int32_t width, int bits) {
  return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
}

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

// File and info headers and the palette; a map of colours gets the palette's
// colours as its pixels instead.
std::vector<unsigned char> Prefix(std::int32_t width, std::int32_t height, const Format& format,
                                  const std::array<std::uint32_t, 256>& colours) {
  const std::uint32_t offset = 54 + 4 * format.entries;
  const std::uint64_t image = Stride(width, format.bits) * static_cast<std::uint64_t>(height);
  std::vector<unsigned char> out{'B', 'M'};
  PutLe(out, static_cast<std::uint32_t>(offset + image), 4);
  PutLe(out, 0, 4);
  PutLe(out, offset, 4);
  PutLe(out, 40, 4);
  PutLe(out, static_cast<std::uint32_t>(width), 4);
  PutLe(out, static_cast<std::uint32_t>(height), 4);
  PutLe(out, 1, 2);
  PutLe(out, static_cast<std::uint32_t>(format.bits), 2);
  PutLe(out, format.compression, 4);
  PutLe(out, static_cast<std::uint32_t>(image), 4);  // for run-length rows, patched at the end
  PutLe(out, 2835, 4);
  PutLe(out, 2835, 4);
  PutLe(out, format.entries, 4);
  PutLe(out, 0, 4);
  for (std::uint32_t i = 0; i < format.entries; ++i) PutLe(out, colours[i], 4);
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

// One row as RLE8 or RLE4 codes, as common writers make them: runs of two
// or more equal pixels (RLE4: of a repeating pair), literals of three or
// more, and an end-of-line.
void EncodeRow(const std::vector<unsigned char>& row, std::int32_t width, bool four, std::vector<unsigned char>& out) {
  out.clear();
  const auto w = static_cast<std::size_t>(width);
  const std::size_t period = four ? 2 : 1;
  auto runAt = [&](std::size_t x) {
    std::size_t n = 1;
    while (n < 255 && x + n < w && (n < period || row[x + n] == row[x + n - period])) ++n;
    return four && n == 2 && row[x] != row[x + 1] ? std::size_t{1} : n;
  };
  auto code = [&](std::size_t x, std::size_t n) {  // n pixels from x as one byte
    return static_cast<unsigned char>(!four ? row[x] : row[x] << 4 | (n > 1 ? row[x + 1] : 0));
  };
  for (std::size_t x = 0; x < w;) {
    std::size_t n = runAt(x);
    if (n >= 2) {
      out.insert(out.end(), {static_cast<unsigned char>(n), code(x, n)});
      x += n;
      continue;
    }
    n = 1;
    while (n < 255 && x + n < w && runAt(x + n) < 2) ++n;
    if (n < 3) {
      for (std::size_t i = 0; i < n; ++i) out.insert(out.end(), {1, code(x + i, 1)});
    } else {
      out.insert(out.end(), {0, static_cast<unsigned char>(n)});
      const std::size_t start = out.size();
      for (std::size_t i = 0; i < n; i += period) out.push_back(code(x + i, n - i));
      if ((out.size() - start) % 2 == 1) out.push_back(0);
    }
    x += n;
  }
  out.insert(out.end(), {0, 0});
}

// One row of indices stored at the format's depth: packed below 8 bits, as
// the palette's colours above.
void StoreRow(const std::vector<unsigned char>& row, std::int32_t width, const Format& format,
              const std::array<std::uint32_t, 256>& colours, std::vector<unsigned char>& out) {
  out.assign(Stride(width, format.bits), 0);
  for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
    const std::uint32_t c = colours[row[x]];
    switch (format.bits) {
      case 16: {
        const std::uint32_t v = (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31);
        out[2 * x] = static_cast<unsigned char>(v);
        out[2 * x + 1] = static_cast<unsigned char>(v >> 8);
        break;
      }
      case 24:
      case 32:
        for (std::size_t i = 0; i < 3; ++i) out[format.bits / 8 * x + i] = static_cast<unsigned char>(c >> (8 * i));
        break;
      default: {
        const std::size_t bit = x * static_cast<std::size_t>(format.bits);
        out[bit / 8] |= static_cast<unsigned char>(row[x] << (8 - format.bits - static_cast<int>(bit % 8)));
      }
    }
  }
}

constexpr std::pair<std::string_view, Layout> kNames[] = {
    {"1", Layout::Bits1},   {"4", Layout::Bits4},   {"8", Layout::Bits8},   {"rle8", Layout::Rle8},
    {"rle4", Layout::Rle4}, {"16", Layout::Bits16}, {"24", Layout::Bits24}, {"32", Layout::Bits32}};

bool PatchLe(std::FILE* file, long at, std::uint32_t value) {
  std::vector<unsigned char> bytes;
  PutLe(bytes, value, 4);
  return std::fseek(file, at, SEEK_SET) == 0 && std::fwrite(bytes.data(), 1, 4, file) == 4;
}

}  // namespace

std::optional<Layout> LayoutNamed(std::string_view name) {
  for (const auto& [n, layout] : kNames) {
    if (n == name) return layout;
  }
  return std::nullopt;
}

std::string_view NameOf(Layout layout) {
  for (const auto& [name, l] : kNames) {
    if (l == layout) return name;
  }
  return "?";
}

void WriteMap(const std::filesystem::path& path, std::int32_t width, std::int32_t height, Layout layout) {
  if (width <= 0 || height <= 0) throw std::runtime_error("map sizes must be positive");
  SplitMix random(static_cast<std::uint64_t>(width) << 32 | static_cast<std::uint32_t>(height));
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) throw std::runtime_error("cannot create " + path.string());
  const Format format = FormatOf(layout);
  std::array<std::uint32_t, 256> colours{};
  for (auto& c : colours) c = static_cast<std::uint32_t>(random.Next() & 0xFFFFFF);
  const auto prefix = Prefix(width, height, format, colours);
  auto palette = ShuffledIndices(random);
  if (format.entries > 0) {
    for (auto& index : palette) index = static_cast<std::uint8_t>(index % format.entries);
  }
  std::vector<unsigned char> row((static_cast<std::size_t>(width) + 3) / 4 * 4, 0);
  std::vector<unsigned char> codes;
  std::uint64_t written = 0;
  bool ok = std::fwrite(prefix.data(), 1, prefix.size(), file.get()) == prefix.size();
  for (std::int32_t y = 0; ok && y < height; ++y) {
    FillRow(row, width, y, palette, random);
    if (format.compression != 0) {
      EncodeRow(row, width, format.compression == 2, codes);
    } else if (format.bits != 8) {
      StoreRow(row, width, format, colours, codes);
    }
    const auto& out = format.compression == 0 && format.bits == 8 ? row : codes;
    ok = std::fwrite(out.data(), 1, out.size(), file.get()) == out.size();
    written += out.size();
  }
  if (format.compression != 0 && ok) {
    static const unsigned char kEnd[] = {0, 1};
    ok = std::fwrite(kEnd, 1, 2, file.get()) == 2;
    written += 2;
    ok = ok && PatchLe(file.get(), 2, static_cast<std::uint32_t>(prefix.size() + written)) &&
         PatchLe(file.get(), 34, static_cast<std::uint32_t>(written));
  }
  if (!ok || std::fflush(file.get()) != 0) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace bench
