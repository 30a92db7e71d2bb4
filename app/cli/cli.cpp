#include "app/cli/cli.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "app/cli/job_queue.h"
#include "app/cli/options.h"
#include "app/cli/progress_view.h"
#include "app/cli/report.h"
#include "app/error_report.h"
#include "mapconv/errors.h"
#include "mapconv/halve_map.h"
#include "mapconv/map_files.h"
#include "resources/layout.h"

namespace halfmap::cli {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

bool Interrupted() noexcept { return gInterrupted.load(std::memory_order_relaxed); }

// A progress bar the display thread reads while a conversion moves it. It
// keeps the window's bar contract: a maximum below the minimum is refused.
class JobBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int value) override {
    if (max_ < value) throw mapconv::EInvalidOperation::PropertyOutOfRange("TProgressBar");
    min_ = value;
  }
  void SetMax(int value) override {
    if (value < min_) throw mapconv::EInvalidOperation::PropertyOutOfRange("TProgressBar");
    max_ = value;
  }
  void SetPosition(int value) override { position_ = value; }

  double Fraction() const {
    const double span = static_cast<double>(max_) - min_;
    return span <= 0 ? 0 : (static_cast<double>(position_) - min_) / span;
  }

 private:
  std::atomic<int> min_{0};
  std::atomic<int> max_{100};
  std::atomic<int> position_{0};
};

// One map to convert: a variant in a folder, or the bitmap of -o.
struct Job {
  std::optional<std::filesystem::path> folder;
  std::string_view suffix;
  MapReport report;
  JobBar bar;
  std::uintmax_t inputBytes = 0;
  Clock::time_point started;
  std::atomic<bool> running{false};
};

void Convert(Job& job) {
  MapReport& report = job.report;
  std::error_code ignored;
  job.inputBytes = std::filesystem::file_size(report.input, ignored);
  job.started = Clock::now();
  job.running = true;
  bool aborted = false;
  const std::function<void()> check = [&aborted] {
    if (!Interrupted()) return;
    aborted = true;
    throw mapconv::EForceBreak(std::string(ui::text::kAborted));
  };
  try {
    if (job.folder) {
      mapconv::HalveMapIn(*job.folder, job.suffix, job.bar, check);
    } else {
      mapconv::HalveFile(report.input, report.output, job.bar, check);
    }
  } catch (const mapconv::EForceBreak& e) {
    // The status bar's text, as the window would show it.
    report.status = aborted ? Status::Aborted : Status::Failed;
    report.error = e.what();
  } catch (const std::exception& e) {
    // The generic error box's text.
    report.status = Status::Failed;
    report.error = ErrorBoxText(e.what());
  } catch (...) {
    report.status = Status::Failed;
    report.error = ErrorBoxText("unknown error");
  }
  job.running = false;
  report.seconds = std::chrono::duration<double>(Clock::now() - job.started).count();
  report.size = mapconv::ReadMapSize(report.input);
  if (report.status == Status::Converted) report.outSize = mapconv::ReadMapSize(report.output);
}

// The folders to convert: given ones checked and without repeats, or the
// current one. Raises UsageError.
std::vector<std::filesystem::path> Folders(const std::vector<std::filesystem::path>& given) {
  if (given.empty()) return {std::filesystem::path()};
  std::vector<std::filesystem::path> folders;
  for (const auto& folder : given) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
      throw UsageError("'" + mapconv::PathText(folder) + "' is not a folder");
    }
    bool repeated = false;
    for (const auto& earlier : folders) repeated = repeated || std::filesystem::equivalent(earlier, folder, error);
    if (!repeated) folders.push_back(folder);
  }
  return folders;
}

using Jobs = std::deque<Job>;  // in place: a Job is neither copied nor moved

Jobs FolderJobs(const std::vector<std::filesystem::path>& folders) {
  Jobs jobs;
  for (const auto& folder : folders) {
    for (const auto variant : mapconv::kMapVariants) {
      const auto suffix = mapconv::Suffix(variant);
      if (!mapconv::present(mapconv::InputFileName(folder, suffix))) continue;
      Job& job = jobs.emplace_back();
      job.folder = folder;
      job.suffix = suffix;
      job.report.input = mapconv::InputFileName(folder, suffix);
      job.report.output = mapconv::OutputFileName(folder, suffix);
    }
  }
  return jobs;
}

Jobs FileJob(const std::filesystem::path& input, const std::filesystem::path& output) {
  Jobs jobs;
  if (!mapconv::present(input)) return jobs;
  Job& job = jobs.emplace_back();
  job.report.input = input;
  job.report.output = output;
  return jobs;
}

std::string NothingText(const Options& options) {
  if (options.output) return "halfmap-cli: " + mapconv::PathText(options.inputs[0]) + ": no such bitmap\n";
  return "halfmap-cli: nothing to convert: no MAP29361206-1.BMP, -NS1.BMP or -X1.BMP in the "
         "folders given\n";
}

// Redraws the running maps' lines on stderr every 100 ms while it lives.
class ProgressDisplay {
 public:
  ProgressDisplay(Jobs& jobs, Console& console, std::mutex& output, int columns)
      : jobs_(jobs), console_(console), output_(output), view_(columns),
        thread_([this](std::stop_token stop) { Loop(stop); }) {}
  ~ProgressDisplay() {
    thread_.request_stop();
    thread_.join();
    console_.Err(view_.Clear());
  }

  // Called with the output lock held, before other text is written.
  void Clear() { console_.Err(view_.Clear()); }

 private:
  void Loop(const std::stop_token& stop) {
    std::unique_lock lock(output_);
    for (;;) {
      wake_.wait_for(lock, stop, std::chrono::milliseconds(100), [] { return false; });
      if (stop.stop_requested()) return;
      console_.Err(view_.Draw(Rows()));
    }
  }

  std::vector<ProgressRow> Rows() const {
    std::vector<ProgressRow> rows;
    const auto now = Clock::now();
    for (const Job& job : jobs_) {
      if (!job.running) continue;
      const double fraction = job.bar.Fraction();
      const double seconds = std::chrono::duration<double>(now - job.started).count();
      rows.push_back({mapconv::PathText(job.report.input), fraction,
                      seconds > 0 ? fraction * static_cast<double>(job.inputBytes) / seconds : 0});
    }
    return rows;
  }

  Jobs& jobs_;
  Console& console_;
  std::mutex& output_;
  ProgressView view_;
  std::condition_variable_any wake_;
  std::jthread thread_;
};

int ConvertAll(const Options& options, Console& console) {
  Jobs jobs = options.output ? FileJob(options.inputs[0], *options.output)
                                         : FolderJobs(Folders(options.inputs));
  if (jobs.empty()) {
    console.Err(NothingText(options));
    return kNothingToConvert;
  }
  std::mutex output;
  const int columns = options.quiet ? 0 : console.ErrTerminalColumns();
  std::optional<ProgressDisplay> progress;
  if (columns > 0) progress.emplace(jobs, console, output, columns);

  bool failed = false;
  JobCallbacks callbacks;
  callbacks.run = [&jobs](std::size_t i) { Convert(jobs[i]); };
  callbacks.stop = [] { return Interrupted(); };
  callbacks.finish = [&](std::size_t i) {
    const MapReport& report = jobs[i].report;
    const std::lock_guard lock(output);
    if (progress) progress->Clear();
    if (options.json) {
      console.Out(JsonLine(report));
    } else if (report.status == Status::Converted) {
      console.Out(TextLine(report));
    }
    if (report.status != Status::Converted) console.Err(ErrorLine(report));
    failed = failed || report.status != Status::Converted;
  };
  RunJobs(jobs.size(), options.jobs, callbacks);
  progress.reset();
  if (Interrupted()) return kInterrupted;
  return failed ? kSomeFailed : kConverted;
}

}  // namespace

bool RequestInterrupt() noexcept { return !gInterrupted.exchange(true, std::memory_order_relaxed); }

int RunCli(const std::vector<std::filesystem::path>& args, Console& console) {
  try {
    const Options options = ParseArguments(args);
    if (options.mode == Mode::Help) {
      console.Out(HelpText());
      return kConverted;
    }
    if (options.mode == Mode::Version) {
      console.Out("halfmap-cli " HALFMAP_VERSION "\n");
      return kConverted;
    }
    return ConvertAll(options, console);
  } catch (const UsageError& e) {
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n" + std::string(Synopsis()));
    return kUsage;
  }
}

}  // namespace halfmap::cli
