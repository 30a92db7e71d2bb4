// halfmap_demo_maps FOLDER: writes the three demo input maps into FOLDER.
#include <exception>
#include <iostream>

#include "tools/demo_maps.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: halfmap_demo_maps FOLDER\n";
    return 2;
  }
  try {
    demo::WriteDemoMaps(argv[1]);
  } catch (const std::exception& e) {
    std::cerr << "halfmap_demo_maps: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
