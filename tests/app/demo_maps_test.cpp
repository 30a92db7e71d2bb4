#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "mapconv/halve_map.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_folder.h"
#include "tools/demo_maps.h"

namespace testing_support {
namespace {

class NoBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int) override {}
  void SetMax(int) override {}
  void SetPosition(int) override {}
};

const char* const kInputs[] = {"MAP29361206-1.BMP", "MAP29361206-NS1.BMP", "MAP29361206-X1.BMP"};

TEST(DemoMapsTest, ThreeDistinctFullPaletteMapsTheToolConverts) {
  TempFolder folder;
  const demo::MapSize size{.width = 203, .height = 150};
  demo::WriteDemoMaps(folder.path(), size);

  const std::size_t stride = (203 + 3) / 4 * 4;
  std::vector<Bytes> maps;
  for (const char* name : kInputs) {
    const Bytes map = ReadAll(folder / name);
    ASSERT_EQ(map.size(), 1078 + stride * 150) << name;
    EXPECT_EQ(U32At(map, 2), map.size()) << name;
    EXPECT_EQ(U32At(map, 10), 1078u) << name;
    EXPECT_EQ(I32At(map, 18), 203) << name;
    EXPECT_EQ(I32At(map, 22), 150) << name;
    EXPECT_EQ(U32At(map, 28) & 0xFFFF, 8u) << name;
    EXPECT_EQ(U32At(map, 30), 0u) << name;

    std::set<std::tuple<std::byte, std::byte, std::byte>> colours;
    for (std::size_t i = 54; i < 1078; i += 4) colours.insert({map[i], map[i + 1], map[i + 2]});
    EXPECT_EQ(colours.size(), 256u) << name << ": every palette entry its own colour";

    // Structure worth looking at: many indices, and rows that differ.
    std::set<std::byte> used(map.begin() + 1078, map.end());
    EXPECT_GT(used.size(), 16u) << name;
    EXPECT_FALSE(std::equal(map.begin() + 1078, map.begin() + 1078 + stride, map.begin() + 1078 + 60 * stride)) << name;
    maps.push_back(map);
  }
  EXPECT_NE(maps[0], maps[1]) << "the renderings differ";
  EXPECT_NE(maps[0], maps[2]);
  EXPECT_NE(maps[1], maps[2]);

  NoBar bar;
  EXPECT_NO_THROW(mapconv::HalveMap("NS", bar, [] {}));
  EXPECT_EQ(I32At(ReadAll(folder / "MAP29361206-NS2.BMP"), 18), 101);

  TempFolder again;
  demo::WriteDemoMaps(again.path(), size);
  for (const char* name : kInputs) EXPECT_EQ(ReadAll(again / name), ReadAll(folder / name)) << "same size, same bytes";
}

TEST(DemoMapsTest, RefusesAMapTooSmallToHalve) {
  TempFolder folder;
  EXPECT_THROW(demo::WriteDemoMaps(folder.path(), {.width = 1, .height = 8}), std::invalid_argument);
  EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
}  // namespace testing_support
