// halfmap-genmap PATH WIDTH HEIGHT: writes the benchmarks' generated map.
#include <cstdio>
#include <exception>
#include <string>

#include "bench/map_generator.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PATH WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  try {
    bench::WriteMap(argv[1], std::stoi(argv[2]), std::stoi(argv[3]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
