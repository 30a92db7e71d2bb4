// HalveMap against the plain C reference on generated maps whose input is in
// the page cache. The flush to disk is timed on its own for both, so its share
// of the whole is visible.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench/map_generator.h"
#include "bench/null_bar.h"
#include "bench/reference.h"
#include "mapconv/halve_map.h"
#include "mapconv/map_files.h"
#include "mapconv/test_hooks.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fsys = std::filesystem;

// One folder per process holding one generated map per size; removed at exit.
class MapFolders {
 public:
  ~MapFolders() {
    std::error_code ignored;
    for (const auto& [size, folder] : folders_) fsys::remove_all(folder, ignored);
  }

  const fsys::path& For(int size) {
    auto found = folders_.find(size);
    if (found != folders_.end()) return found->second;
    const fsys::path folder = fsys::temp_directory_path() /
                              ("halfmap-bench-" + std::to_string(::getpid()) + "-" + std::to_string(size));
    fsys::create_directories(folder);
    mapconv::hooks::SetAppFolder(folder);
    bench::WriteMap(mapconv::InputFileName(""), size, size);
    WarmCache(mapconv::InputFileName(""));
    return folders_.emplace(size, folder).first->second;
  }

 private:
  static void WarmCache(const fsys::path& path) {
    std::ifstream in(path, std::ios::binary);
    static char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk)) {
    }
  }

  std::map<int, fsys::path> folders_;
};

MapFolders& Folders() {
  static MapFolders folders;
  return folders;
}

// Times the core's fsync through its fault hook, which it calls just before
// flushing and just before replacing; it never asks for a fault.
Clock::time_point gFlushStart;
double gFlushSeconds = 0;
bool TimeFlush(mapconv::hooks::Op op) {
  if (op == mapconv::hooks::Op::Flush) gFlushStart = Clock::now();
  if (op == mapconv::hooks::Op::Replace) {
    gFlushSeconds += std::chrono::duration<double>(Clock::now() - gFlushStart).count();
  }
  return false;
}

void ReportFlush(benchmark::State& state, double flush, double total) {
  state.counters["flush_ms"] = benchmark::Counter(flush * 1e3, benchmark::Counter::kAvgIterations);
  state.counters["flush_share"] = total > 0 ? flush / total : 0;
  state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(0));
}

void BM_HalveMap(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  mapconv::hooks::SetAppFolder(Folders().For(size));
  bench::NullBar bar;
  const auto check = [] {};
  gFlushSeconds = 0;
  double total = 0;
  mapconv::hooks::SetFaultHook(TimeFlush);
  for (auto _ : state) {
    const auto start = Clock::now();
    mapconv::HalveMap("", bar, check);
    total += std::chrono::duration<double>(Clock::now() - start).count();
  }
  mapconv::hooks::SetFaultHook(nullptr);
  ReportFlush(state, gFlushSeconds, total);
}

void BM_CReference(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  mapconv::hooks::SetAppFolder(Folders().For(size));
  const std::string input = mapconv::InputFileName("").string();
  const std::string output = mapconv::OutputFileName("").string();
  const std::string scratch = mapconv::ScratchFileName("").string();
  double flush = 0;
  double total = 0;
  for (auto _ : state) {
    double once = 0;
    const auto start = Clock::now();
    if (reference_halve(input.c_str(), scratch.c_str(), output.c_str(), &once) != 0) {
      state.SkipWithError("reference conversion failed");
      break;
    }
    total += std::chrono::duration<double>(Clock::now() - start).count();
    flush += once;
  }
  ReportFlush(state, flush, total);
}

}  // namespace

BENCHMARK(BM_HalveMap)->Arg(8192)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CReference)->Arg(8192)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();
