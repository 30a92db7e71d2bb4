#include "bench/map_folders.h"

#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <utility>

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
    for (const auto& [map, folder] : folders_) fsys::remove_all(folder, ignored);
  }

  const fsys::path& For(int size, Layout layout) {
    auto found = folders_.find({size, layout});
    if (found == folders_.end()) found = folders_.emplace(std::pair(size, layout), Make(size, layout)).first;
    mapconv::hooks::SetAppFolder(found->second);
    return found->second;
  }

 private:
  static fsys::path Make(int size, Layout layout) {
    const fsys::path folder = fsys::temp_directory_path() /
                              ("halfmap-bench-" + std::to_string(::getpid()) + "-" + std::to_string(size) + "-" +
                               std::to_string(static_cast<int>(layout)));
    fsys::create_directories(folder);
    mapconv::hooks::SetAppFolder(folder);
    WriteMap(mapconv::InputFileName(""), size, size, layout);
    WarmCache(mapconv::InputFileName(""));
    return folder;
  }

  std::map<std::pair<int, Layout>, fsys::path> folders_;
};

}  // namespace

const fsys::path& MapFolder(int size, Layout layout) {
  static Folders folders;
  return folders.For(size, layout);
}

}  // namespace bench
