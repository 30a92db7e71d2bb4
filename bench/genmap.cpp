// halfmap-genmap PATH WIDTH HEIGHT [rle]: writes the benchmarks' generated
// map, its rows RLE8-encoded with "rle".
#include <cstdio>
#include <exception>
#include <string>

#include "bench/map_generator.h"

int main(int argc, char** argv) {
  const bool rle = argc == 5 && std::string(argv[4]) == "rle";
  if (argc != 4 && !rle) {
    std::fprintf(stderr, "usage: %s PATH WIDTH HEIGHT [rle]\n", argv[0]);
    return 2;
  }
  try {
    bench::WriteMap(argv[1], std::stoi(argv[2]), std::stoi(argv[3]), rle);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
