// halfmap-genmap PATH WIDTH HEIGHT [LAYOUT]: writes the benchmarks' generated
// map in LAYOUT: 1, 4, 8 (the default), rle8, rle4, 16, 24 or 32.
#include <cstdio>
#include <exception>
#include <string>

#include "bench/map_generator.h"

int main(int argc, char** argv) {
  const auto layout = argc == 5 ? bench::LayoutNamed(argv[4]) : bench::Layout::Bits8;
  if ((argc != 4 && argc != 5) || !layout) {
    std::fprintf(stderr, "usage: %s PATH WIDTH HEIGHT [1|4|8|rle8|rle4|16|24|32]\n", argv[0]);
    return 2;
  }
  try {
    bench::WriteMap(argv[1], std::stoi(argv[2]), std::stoi(argv[3]), *layout);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
