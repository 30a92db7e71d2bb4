// One map for the command line to convert, check or leave alone: its
// report, the bar the progress display reads, and running it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>

#include "app/cli/options.h"
#include "app/cli/report.h"
#include "mapconv/halve_map.h"

namespace halfmap::cli {

using Clock = std::chrono::steady_clock;

// A progress bar the display thread reads while a conversion moves it. It
// keeps the window's bar contract: a maximum below the minimum is refused.
class JobBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int value) override { range_.SetMin(value); }
  void SetMax(int value) override { range_.SetMax(value); }
  void SetPosition(int value) override { position_ = value; }

  double Fraction() const {
    const double span = static_cast<double>(range_.Max()) - range_.Min();
    return span <= 0 ? 0 : (static_cast<double>(position_) - range_.Min()) / span;
  }

 private:
  mapconv::ProgressRange<std::atomic<int>> range_;
  std::atomic<int> position_{0};
};

// One map to convert, check or leave alone.
struct Job {
  MapReport report;
  JobBar bar;
  std::uintmax_t inputBytes = 0;
  Clock::time_point started;
  std::atomic<bool> running{false};
  bool superseded = false;  // written to meanwhile: a watch converts it again
};

using Jobs = std::deque<Job>;  // in place: a Job is neither copied nor moved

// Does what the options ask for the job's map, every failure put into its
// report in the user's words; stops at the next row once Interrupted().
void RunJob(Job& job, const Options& options);

}  // namespace halfmap::cli
