#include "app/cli/progress_display.h"

#include "app/cli/escape.h"
#include "mapconv/errors.h"

namespace halfmap::cli {

ProgressDisplay::~ProgressDisplay() {
  thread_.request_stop();
  thread_.join();
  console_.Err(view_.Clear());
}

void ProgressDisplay::Loop(const std::stop_token& stop) {
  std::unique_lock lock(output_);
  for (;;) {
    wake_.wait_for(lock, stop, std::chrono::milliseconds(100), [] { return false; });
    if (stop.stop_requested()) return;
    console_.Err(view_.Draw(Rows()));
  }
}

std::vector<ProgressRow> ProgressDisplay::Rows() const {
  std::vector<ProgressRow> rows;
  const auto now = Clock::now();
  for (const Job& job : jobs_) {
    if (!job.running) continue;
    const double fraction = job.bar.Fraction();
    const double seconds = std::chrono::duration<double>(now - job.started).count();
    rows.push_back({Printable(mapconv::PathText(job.report.input)), fraction,
                    seconds > 0 ? fraction * static_cast<double>(job.inputBytes) / seconds : 0});
  }
  return rows;
}

}  // namespace halfmap::cli
