#include "bench/map_folders.h"

#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "bench/map_generator.h"
#include "mapconv/map_files.h"
#include "mapconv/test_hooks.h"

namespace bench {
namespace {

namespace fsys = std::filesystem;

void WarmCache(const fsys::path& path) {
  std::ifstream in(path, std::ios::binary);
  static char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk)) {
  }
}

class Folders {
 public:
  ~Folders() {
    std::error_code ignored;
    for (const auto& [size, folder] : folders_) fsys::remove_all(folder, ignored);
  }

  const fsys::path& For(int size) {
    auto found = folders_.find(size);
    if (found == folders_.end()) found = folders_.emplace(size, Make(size)).first;
    mapconv::hooks::SetAppFolder(found->second);
    return found->second;
  }

 private:
  static fsys::path Make(int size) {
    const fsys::path folder = fsys::temp_directory_path() /
                              ("halfmap-bench-" + std::to_string(::getpid()) + "-" + std::to_string(size));
    fsys::create_directories(folder);
    mapconv::hooks::SetAppFolder(folder);
    WriteMap(mapconv::InputFileName(""), size, size);
    WarmCache(mapconv::InputFileName(""));
    return folder;
  }

  std::map<int, fsys::path> folders_;
};

}  // namespace

const fsys::path& MapFolder(int size) {
  static Folders folders;
  return folders.For(size);
}

}  // namespace bench
