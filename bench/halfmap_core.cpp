// halfmap-core [--seconds] FOLDER [SUFFIX...]: converts the maps of the
// given variants in FOLDER (the Normal one when none is named) with the
// tool's core and no window, for timing against other programs. With
// --seconds it prints the wall time of the conversions alone, which under
// Wine leaves out Wine's own start-up.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench/null_bar.h"
#include "mapconv/halve_map.h"
#include "mapconv/test_hooks.h"

int main(int argc, char** argv) {
  const bool seconds = argc > 1 && std::strcmp(argv[1], "--seconds") == 0;
  const int first = seconds ? 2 : 1;
  if (argc <= first) {
    std::fprintf(stderr, "usage: %s [--seconds] FOLDER [SUFFIX...]\n", argv[0]);
    return 2;
  }
  std::vector<std::string> suffixes(argv + first + 1, argv + argc);
  if (suffixes.empty()) suffixes.emplace_back();
  try {
    mapconv::hooks::SetAppFolder(argv[first]);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& suffix : suffixes) {
      bench::NullBar bar;
      mapconv::HalveMap(suffix, bar, [] {});
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (seconds) std::printf("seconds %.4f\n", took.count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
