// Writes the maps the Wine tests start from, and converts a folder's maps
// with the Linux core for the expected outputs.
//
//   wine_maps small <folder> <variants>   variants: any of N, S, X
//   wine_maps big <folder>                 the second map large enough to abort
//   wine_maps convert <folder>             writes the -2 files of every input there
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "mapconv/halve_map.h"
#include "mapconv/map_files.h"
#include "mapconv/test_hooks.h"
#include "tests/support/bmp_builder.h"

namespace {

namespace ts = testing_support;

struct Size {
  std::int32_t width;
  std::int32_t height;
};

// Each variant gets its own pattern, so a map written under another
// variant's name cannot pass for the right one.
ts::BmpFields Spec(Size size, int seed) {
  ts::BmpFields bmp;
  bmp.width = size.width;
  bmp.height = size.height;
  bmp.pixel = [seed](int x, int y) {
    return static_cast<std::uint8_t>(x * 31 + y * 17 + x * y * 7 + seed * 59);
  };
  return bmp;
}

void Write(const std::filesystem::path& folder, char variant, Size size) {
  const std::string_view suffixes[] = {"", "NS", "X"};
  const int index = variant == 'N' ? 0 : variant == 'S' ? 1 : 2;
  mapconv::hooks::SetAppFolder(folder);
  ts::WriteAll(mapconv::InputFileName(suffixes[index]), ts::MakeBmp(Spec(size, index)));
}

class NoBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int) override {}
  void SetMax(int) override {}
  void SetPosition(int) override {}
};

int Convert(const std::filesystem::path& folder) {
  mapconv::hooks::SetAppFolder(folder);
  NoBar bar;
  for (const auto variant : mapconv::kMapVariants) {
    const auto suffix = mapconv::Suffix(variant);
    if (mapconv::present(mapconv::InputFileName(suffix))) mapconv::HalveMap(suffix, bar, [] {});
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 2 ? argv[1] : "";
  const std::filesystem::path folder = argc > 2 ? argv[2] : "";
  try {
    if (command == "small" && argc == 4) {
      // Odd sizes, so row filler and the odd last row are exercised.
      const Size sizes[] = {{37, 23}, {64, 48}, {5, 5}};
      for (const char variant : std::string_view(argv[3])) {
        Write(folder, variant, sizes[variant == 'N' ? 0 : variant == 'S' ? 1 : 2]);
      }
      return 0;
    }
    if (command == "big" && argc == 3) {
      Write(folder, 'N', {48, 40});
      // Some 180 MiB: long enough to catch under way however fast the run.
      Write(folder, 'S', {8000, 24000});
      Write(folder, 'X', {32, 32});
      return 0;
    }
    if (command == "convert" && argc == 3) return Convert(folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wine_maps: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: wine_maps small <folder> <NSX> | big <folder> | convert <folder>\n");
  return 2;
}
