// Prints the folder it finds itself in and which inputs are present there.
#include <cstdio>

#include "mapconv/map_files.h"

int main() {
  std::printf("%s\n", mapconv::AppFolder().c_str());
  for (const auto variant : mapconv::kMapVariants) {
    std::printf("%d", mapconv::present(mapconv::InputFileName(mapconv::Suffix(variant))) ? 1 : 0);
  }
  std::printf("\n");
}
