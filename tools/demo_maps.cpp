#include "tools/demo_maps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace demo {
namespace {

enum class Look { Normal, NoFixed, XRay };

constexpr int kHeaderSize = 14 + 40 + 256 * 4;
constexpr int kRoadIndex = 250;
constexpr int kBuildingIndex = 252;
constexpr int kRoofIndex = 254;

void Put(std::string& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

struct Rgb {
  int r, g, b;
};

// Water, lowland, hills and snow, then the colours of roads and buildings.
Rgb PaletteColour(int i) {
  if (i < 64) return {10, 30 + i, 90 + 2 * i};
  if (i < 160) return {40 + (i - 64), 150 - (i - 64) / 2, 40};
  if (i < 224) return {140 + (i - 160), 100 + (i - 160) / 3, 50 + (i - 160) / 4};
  if (i < 248) return {200 + (i - 224) * 2, 200 + (i - 224) * 2, 208 + (i - 224) * 2};
  return {60 + (i - 248) * 25, 40 + (i - 248) * 10, 40 + (i - 248) * 10};
}

std::string Header(MapSize size) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(size.width) + 3) / 4 * 4;
  const std::uint32_t pixels = stride * static_cast<std::uint32_t>(size.height);
  std::string out;
  out += "BM";
  Put(out, kHeaderSize + pixels, 4);
  Put(out, 0, 4);  // two reserved fields
  Put(out, kHeaderSize, 4);
  Put(out, 40, 4);
  Put(out, static_cast<std::uint32_t>(size.width), 4);
  Put(out, static_cast<std::uint32_t>(size.height), 4);
  Put(out, 1, 2);  // planes
  Put(out, 8, 2);  // bits per pixel
  Put(out, 0, 4);  // no compression
  Put(out, pixels, 4);
  Put(out, 2835, 4);  // 72 dots per inch, both ways
  Put(out, 2835, 4);
  Put(out, 256, 4);
  Put(out, 0, 4);
  for (int i = 0; i < 256; ++i) {
    const Rgb c = PaletteColour(i);
    Put(out, static_cast<std::uint32_t>(c.b), 1);
    Put(out, static_cast<std::uint32_t>(c.g), 1);
    Put(out, static_cast<std::uint32_t>(c.r), 1);
    Put(out, 0, 1);
  }
  if (out.size() != kHeaderSize) throw std::logic_error("bitmap header size");
  return out;
}

// Terrain height 0..247 from a few waves, tabulated per column and per row.
class Terrain {
 public:
  explicit Terrain(MapSize size) : across_(size.width), down_(size.height) {
    for (int x = 0; x < size.width; ++x) across_[x] = 60 * std::sin(x / 97.0) + 25 * std::sin(x / 23.0);
    for (int y = 0; y < size.height; ++y) down_[y] = 55 * std::cos(y / 131.0) + 20 * std::sin(y / 41.0);
  }
  int At(int x, int y) const {
    const double h = 124 + across_[x] + down_[y] + 18 * std::sin((x + y) / 57.0);
    return std::clamp(static_cast<int>(h), 0, 247);
  }

 private:
  std::vector<double> across_;
  std::vector<double> down_;
};

bool OnRoad(int x, int y) { return x % 300 < 6 || y % 250 < 6; }

// Buildings fill blocks near the crossings, clear of the roads.
bool InBuilding(int x, int y) {
  const int bx = x % 300, by = y % 250;
  return bx >= 20 && bx < 80 && by >= 20 && by < 70 && (x / 300 + y / 250) % 2 == 0;
}

std::uint8_t Pixel(Look look, const Terrain& terrain, int x, int y) {
  const int height = terrain.At(x, y);
  if (look == Look::XRay) {
    // Contour lines over a dim ground; buildings show as their outlines.
    if (InBuilding(x, y) && !(InBuilding(x - 3, y) && InBuilding(x + 3, y) && InBuilding(x, y - 3) && InBuilding(x, y + 3)))
      return kRoofIndex;
    return height % 16 == 0 ? 240 : static_cast<std::uint8_t>(height / 4);
  }
  if (look == Look::Normal && InBuilding(x, y)) return (x / 10 + y / 10) % 2 ? kBuildingIndex : kRoofIndex;
  if (OnRoad(x, y)) return kRoadIndex;
  return static_cast<std::uint8_t>(height);
}

void WriteMap(const std::filesystem::path& path, Look look, MapSize size, const Terrain& terrain) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << Header(size);
  const std::size_t stride = (static_cast<std::size_t>(size.width) + 3) / 4 * 4;
  std::string row(stride, '\0');
  // Rows are stored bottom-up, so row y of the file is line height-1-y.
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) row[x] = static_cast<char>(Pixel(look, terrain, x, size.height - 1 - y));
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

void WriteDemoMaps(const std::filesystem::path& folder, MapSize size) {
  if (size.width < 2 || size.height < 2) throw std::invalid_argument("a demo map needs at least 2 x 2 pixels");
  const Terrain terrain(size);
  WriteMap(folder / "MAP29361206-1.BMP", Look::Normal, size, terrain);
  WriteMap(folder / "MAP29361206-NS1.BMP", Look::NoFixed, size, terrain);
  WriteMap(folder / "MAP29361206-X1.BMP", Look::XRay, size, terrain);
}

}  // namespace demo
