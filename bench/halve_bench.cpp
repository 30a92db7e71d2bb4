// HalveMap against the plain C reference on generated maps whose input is in
// the page cache. The flush to disk is timed on its own for both, so its share
// of the whole is visible.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/map_folders.h"
#include "bench/null_bar.h"
#include "bench/reference.h"
#include "mapconv/halve_map.h"
#include "mapconv/map_files.h"
#include "mapconv/test_hooks.h"

namespace {

using Clock = std::chrono::steady_clock;

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
  bench::MapFolder(size);
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
  bench::MapFolder(size);
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

// Every layout the peers write, at the same pixel count; one the core
// refuses is reported as such.
void BM_HalveLayout(benchmark::State& state) {
  const auto layout = static_cast<bench::Layout>(state.range(0));
  bench::MapFolder(static_cast<int>(state.range(1)), layout);
  state.SetLabel(std::string(bench::NameOf(layout)));
  bench::NullBar bar;
  for (auto _ : state) {
    try {
      mapconv::HalveMap("", bar, [] {});
    } catch (const mapconv::EForceBreak& e) {
      state.SkipWithError(("refused: " + std::string(e.what())).c_str());
      break;
    }
  }
}

}  // namespace

BENCHMARK(BM_HalveLayout)
    ->ArgsProduct({benchmark::CreateDenseRange(0, static_cast<int>(bench::Layout::Bits32), 1), {8192}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_HalveMap)->Arg(8192)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CReference)->Arg(8192)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();
