// The conversion driven through the real Qt window under the offscreen
// platform: the window's own progress bar, and TForm1::CheckBreak, which
// looks for pending events before every row. Linked with the core's
// benchmarks so both are measured in the same run.
#include <QApplication>
#include <benchmark/benchmark.h>

#include <chrono>

#include "app/qt/main_window.h"
#include "bench/map_folders.h"
#include "mapconv/halve_map.h"

namespace {

// A fresh window per benchmark, shown and past its start-up probe.
void RunThroughWindow(benchmark::State& state, bool eventsEveryRow) {
  bench::MapFolder(static_cast<int>(state.range(0)));
  halfmap::qt::MainWindow window;
  if (eventsEveryRow) window.setEventInterval(std::chrono::nanoseconds(0));
  window.show();
  QCoreApplication::processEvents();
  halfmap::TForm1& form = window.form();
  halfmap::ProgressBarControl& bar = window.Bar(halfmap::ui::Id::Bar1);
  for (auto _ : state) mapconv::HalveMap("", bar, [&] { form.CheckBreak(); });
  state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(0));
}

void BM_WindowHalveMap(benchmark::State& state) { RunThroughWindow(state, false); }
void BM_WindowHalveMapEventsEveryRow(benchmark::State& state) { RunThroughWindow(state, true); }

}  // namespace

BENCHMARK(BM_WindowHalveMap)->Arg(8192)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WindowHalveMapEventsEveryRow)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
