// The running maps' progress lines on a terminal's stderr, redrawn by a
// thread of their own every 100 ms.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/job.h"
#include "app/cli/progress_view.h"

namespace halfmap::cli {

// Redraws the running maps' lines on stderr every 100 ms while it lives.
class ProgressDisplay {
 public:
  ProgressDisplay(Jobs& jobs, Console& console, std::mutex& output, int columns)
      : jobs_(jobs), console_(console), output_(output), view_(columns),
        thread_([this](std::stop_token stop) { Loop(stop); }) {}
  ~ProgressDisplay();

  // Called with the output lock held, before other text is written.
  void Clear() { console_.Err(view_.Clear()); }

 private:
  void Loop(const std::stop_token& stop);

  std::vector<ProgressRow> Rows() const;

  Jobs& jobs_;
  Console& console_;
  std::mutex& output_;
  ProgressView view_;
  std::condition_variable_any wake_;
  std::jthread thread_;
};

}  // namespace halfmap::cli
