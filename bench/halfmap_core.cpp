// halfmap-core FOLDER [SUFFIX]: converts one variant's map in FOLDER with
// the tool's core and no window, for timing against other programs.
#include <cstdio>
#include <exception>
#include <string>

#include "bench/null_bar.h"
#include "mapconv/halve_map.h"
#include "mapconv/test_hooks.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FOLDER [SUFFIX]\n", argv[0]);
    return 2;
  }
  try {
    mapconv::hooks::SetAppFolder(argv[1]);
    bench::NullBar bar;
    mapconv::HalveMap(argc == 3 ? argv[2] : "", bar, [] {});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
