#include "app/cli/cli.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "app/cli/escape.h"
#include "app/cli/file_watch.h"
#include "app/cli/job_queue.h"
#include "app/cli/messages.h"
#include "app/cli/options.h"
#include "app/cli/progress_view.h"
#include "app/cli/report.h"
#include "app/error_report.h"
#include "mapconv/errors.h"
#include "mapconv/file_services.h"
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
    mapconv::CheckProgressRange(value, max_);
    min_ = value;
  }
  void SetMax(int value) override {
    mapconv::CheckProgressRange(min_, value);
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

// One map to convert, check or leave alone.
struct Job {
  MapReport report;
  JobBar bar;
  std::uintmax_t inputBytes = 0;
  Clock::time_point started;
  std::atomic<bool> running{false};
  bool superseded = false;  // written to meanwhile: a watch converts it again
};

// Enough of a file's state to tell that someone wrote to it.
struct Stamp {
  std::filesystem::file_time_type time;
  std::uintmax_t size = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const std::filesystem::path& path) {
  std::error_code ignored;
  return {std::filesystem::last_write_time(path, ignored), std::filesystem::file_size(path, ignored)};
}

std::string WithReason(std::string message, std::string_view reason) {
  if (reason.empty()) return message;
  return message + ": " + std::string(reason);
}

// The message with the system's words for code, where the system gave one.
std::string WithSystemReason(std::string message, std::error_code code) {
  return code ? WithReason(std::move(message), SystemReason(code)) : message;
}

// What the command line says for each kind of failure the core expects.
Msg MessageFor(mapconv::BreakKind kind) {
  switch (kind) {
    case mapconv::BreakKind::Abort: return Msg::Interrupted;
    case mapconv::BreakKind::Open: return Msg::OpenError;
    case mapconv::BreakKind::Read: return Msg::ReadError;
    case mapconv::BreakKind::Write: return Msg::WriteError;
    case mapconv::BreakKind::Memory: return Msg::OutOfMemory;
    case mapconv::BreakKind::Format: return Msg::FormatError;
  }
  return Msg::Interrupted;
}

std::string ForceBreakText(const mapconv::EForceBreak& e) {
  const Msg msg = MessageFor(e.kind());
  if (e.code()) return WithSystemReason(Say(msg), e.code());
  // A read the system allowed that came back short: the file is cut.
  return WithReason(Say(msg), msg == Msg::ReadError ? Say(Msg::EndsEarly) : "");
}

// The input under the name the conversion opens.
std::filesystem::path Found(const std::filesystem::path& input) {
  return mapconv::fs::FindFile(input).value_or(input);
}

// By name or as one file under two names (a hard link, another drive
// letter for the same folder).
bool SameFile(const std::filesystem::path& input, const std::filesystem::path& output) {
  std::error_code ignored;
  const auto in = std::filesystem::absolute(Found(input), ignored).lexically_normal();
  const auto out = std::filesystem::absolute(output, ignored).lexically_normal();
  if (in == out) return true;
  const auto inId = mapconv::fs::IdOf(Found(input));
  return inId && inId == mapconv::fs::IdOf(output);
}

// An output written after its input was last written.
bool UpToDate(const std::filesystem::path& input, const std::filesystem::path& output) {
  if (!mapconv::present(output)) return false;
  std::error_code inError, outError;
  const auto in = std::filesystem::last_write_time(Found(input), inError);
  const auto out = std::filesystem::last_write_time(output, outError);
  return !inError && !outError && out > in;
}

// Does what the options ask for the job's map; failures land in its report.
void Process(Job& job, const Options& options, const std::function<void()>& check) {
  MapReport& report = job.report;
  if (SameFile(report.input, report.output)) {
    report.status = Status::Failed;
    report.error = Say(Msg::SameFile);
  } else if (options.verify && !mapconv::present(report.output)) {
    report.status = Status::Missing;
  } else if (options.verify) {
    const auto difference = mapconv::FirstDifference(report.input, report.output, job.bar, check);
    report.status = difference ? Status::Differs : Status::Verified;
    report.differsAt = difference.value_or(0);
  } else if (options.changed && UpToDate(report.input, report.output)) {
    report.status = Status::Unchanged;
  } else {
    mapconv::HalveFile(report.input, report.output, job.bar, check);
  }
}

// Process, with every failure put into the report in the user's words.
void Attempt(Job& job, const Options& options) {
  MapReport& report = job.report;
  bool aborted = false;
  const std::function<void()> check = [&aborted] {
    if (!Interrupted()) return;
    aborted = true;
    throw mapconv::EForceBreak(std::string(ui::text::kAborted));
  };
  report.status = Status::Converted;
  try {
    Process(job, options, check);
    return;
  } catch (const mapconv::EFormatError& e) {
    report.error = WithReason(Say(Msg::FormatError), e.reason());
  } catch (const mapconv::ENotEnoughSpace& e) {
    report.error = WithReason(Say(Msg::WriteError), Say(Msg::NotEnoughSpace, {std::to_string(e.needed()),
                                                                              std::to_string(e.available())}));
  } catch (const mapconv::EForceBreak& e) {
    report.error = aborted ? Say(Msg::Interrupted) : ForceBreakText(e);
  } catch (const mapconv::ECreateFailure& e) {
    report.error = WithSystemReason(Say(Msg::CannotCreate, {mapconv::PathText(e.path())}), e.code());
  } catch (const std::exception& e) {
    // The generic error box's text.
    report.error = ErrorBoxText(e.what());
  } catch (...) {
    report.error = ErrorBoxText("unknown error");
  }
  report.status = aborted ? Status::Aborted : Status::Failed;
}

void Run(Job& job, const Options& options) {
  MapReport& report = job.report;
  // A watch leaves a map that is still being written for its writer's close.
  job.superseded = options.watch && HeldForWriting(report.input);
  if (job.superseded) return;
  std::error_code ignored;
  job.inputBytes = std::filesystem::file_size(report.input, ignored);
  const Stamp before = StampOf(report.input);
  job.started = Clock::now();
  job.running = true;
  Attempt(job, options);
  job.running = false;
  report.seconds = std::chrono::duration<double>(Clock::now() - job.started).count();
  // No writer holds a file against a reader here, so a watch can only see
  // afterwards that the input changed under the conversion; the writer's
  // close then brings it round again, and this result is not told. The
  // stamp is taken once a writer closing just now has closed: before, it
  // may still show the file as that writer's truncation left it.
  job.superseded = options.watch && (HeldForWriting(report.input) || StampOf(report.input) != before);
  report.size = mapconv::ReadMapSize(report.input);
  // What the conversion writes, 0 wide for a map 1 wide.
  if (report.size && (report.status == Status::Converted || report.status == Status::Verified)) {
    report.outSize = Size{report.size->width / 2, report.size->height / 2};
  } else if (report.status == Status::Unchanged) {
    report.outSize = mapconv::ReadMapSize(report.output);
  }
}

// The folders to convert: given ones checked and without repeats, or the
// current one. Raises UsageError.
std::vector<std::filesystem::path> Folders(const std::vector<std::filesystem::path>& given) {
  if (given.empty()) return {std::filesystem::path()};
  std::vector<std::filesystem::path> folders;
  std::vector<mapconv::fs::FileId> seen;  // the same folder may come under other names
  for (const auto& folder : given) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
      throw UsageError(Say(Msg::NotAFolder, {mapconv::PathText(folder)}));
    }
    const auto id = mapconv::fs::IdOf(folder);
    if (id && std::find(seen.begin(), seen.end(), *id) != seen.end()) continue;
    if (id) seen.push_back(*id);
    folders.push_back(folder);
  }
  return folders;
}

struct MapFiles {
  std::filesystem::path input, output;
};

// Every map the arguments name, present or not, in run order: a watch also
// waits for inputs that are not there yet. Raises UsageError.
std::vector<MapFiles> NamedMaps(const Options& options) {
  if (options.output) return {{options.inputs[0], *options.output}};
  std::vector<MapFiles> maps;
  for (const auto& folder : Folders(options.inputs)) {
    for (const auto variant : mapconv::kMapVariants) {
      const auto suffix = mapconv::Suffix(variant);
      maps.push_back({mapconv::InputFileName(folder, suffix), mapconv::OutputFileName(folder, suffix)});
    }
  }
  return maps;
}

using Jobs = std::deque<Job>;  // in place: a Job is neither copied nor moved

// Jobs for the maps whose input is present and, when wanted is given, among it.
Jobs JobsFor(const std::vector<MapFiles>& maps, const std::vector<std::filesystem::path>* wanted = nullptr) {
  Jobs jobs;
  for (const auto& map : maps) {
    if (!mapconv::present(map.input)) continue;
    if (wanted && std::find(wanted->begin(), wanted->end(), map.input) == wanted->end()) continue;
    Job& job = jobs.emplace_back();
    job.report.input = map.input;
    job.report.output = map.output;
  }
  return jobs;
}

std::string NothingText(const Options& options) {
  if (!options.output) return "halfmap-cli: " + Say(Msg::NothingToDo) + "\n";
  // The presence test takes a folder, pipe or device for no file at all.
  const std::filesystem::path& input = options.inputs[0];
  std::error_code ignored;
  const auto status = std::filesystem::status(input, ignored);
  const bool other = std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
  return "halfmap-cli: " + Printable(mapconv::PathText(input)) + ": " +
         Say(other ? Msg::NotRegularFile : Msg::NoSuchBitmap) + "\n";
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
      rows.push_back({Printable(mapconv::PathText(job.report.input)), fraction,
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

// Runs the jobs and writes each one's line as it is done, in job order.
// Returns true when every map got what was asked.
bool RunAll(Jobs& jobs, const Options& options, Console& console) {
  std::mutex output;
  const int columns = options.quiet ? 0 : console.ErrTerminalColumns();
  std::optional<ProgressDisplay> progress;
  try {
    if (columns > 0) progress.emplace(jobs, console, output, columns);
  } catch (const std::system_error&) {
    // No thread for the display: it only shows, so the maps go on without it.
  }

  bool succeeded = true;
  JobCallbacks callbacks;
  callbacks.run = [&](std::size_t i) { Run(jobs[i], options); };
  callbacks.stop = [] { return Interrupted(); };
  callbacks.finish = [&](std::size_t i) {
    const MapReport& report = jobs[i].report;
    const bool failed = report.status == Status::Failed || report.status == Status::Aborted;
    if (jobs[i].superseded) return;
    const std::lock_guard lock(output);
    if (progress) progress->Clear();
    if (options.json) {
      console.Out(JsonLine(report));
    } else if (!failed) {
      console.Out(TextLine(report));
    }
    if (failed) console.Err(ErrorLine(report));
    succeeded = succeeded && Succeeded(report.status);
  };
  callbacks.fewerWorkers = [&](std::size_t missing, std::size_t wanted) {
    const std::lock_guard lock(output);
    if (progress) progress->Clear();
    console.Err("halfmap-cli: " +
                Say(Msg::FewerWorkers,
                    {std::to_string(missing), std::to_string(wanted), std::to_string(wanted - missing)}) +
                "\n");
  };
  RunJobs(jobs.size(), options.jobs, callbacks);
  return succeeded;
}

// The system refused a watch or its events; the one failure that ends a watch.
int CannotWatch(const std::system_error& e, Console& console) {
  console.Err("halfmap-cli: " + WithSystemReason(Say(Msg::CannotWatch), e.code()) + "\n");
  return kSomeFailed;
}

// After the first run, converts each map again as its input is saved, until
// an interrupt; failures are reported and the watch goes on.
int WatchAll(const std::vector<MapFiles>& maps, FileWatch& watch, const Options& options, Console& console) {
  if (!options.quiet) console.Err("halfmap-cli: " + Say(Msg::Watching, {std::to_string(maps.size())}) + "\n");
  for (;;) {
    WatchNews news;
    try {
      news = watch.Wait();
    } catch (const std::system_error& e) {
      return CannotWatch(e, console);
    }
    if (Interrupted()) return kInterrupted;
    for (const auto& folder : news.gone) {
      console.Err("halfmap-cli: " + Say(Msg::FolderGone, {mapconv::PathText(folder.empty() ? "." : folder)}) + "\n");
    }
    Jobs jobs = JobsFor(maps, &news.saved);
    RunAll(jobs, options, console);
    if (Interrupted()) return kInterrupted;
  }
}

int ConvertAll(const Options& options, Console& console) {
  const std::vector<MapFiles> maps = NamedMaps(options);
  // Watching starts before the first run, so a save during it is not missed.
  std::optional<FileWatch> watch;
  if (options.watch) {
    std::vector<std::filesystem::path> inputs;
    for (const auto& map : maps) inputs.push_back(map.input);
    try {
      watch.emplace(std::move(inputs));
    } catch (const std::system_error& e) {
      return CannotWatch(e, console);
    }
  }
  Jobs jobs = JobsFor(maps);
  if (jobs.empty() && !watch) {
    console.Err(NothingText(options));
    return kNothingToConvert;
  }
  const bool succeeded = RunAll(jobs, options, console);
  if (Interrupted()) return kInterrupted;
  if (watch) return WatchAll(maps, *watch, options, console);
  return succeeded ? kConverted : kSomeFailed;
}

}  // namespace

bool RequestInterrupt() noexcept {
  const bool first = !gInterrupted.exchange(true, std::memory_order_relaxed);
  WakeFileWatches();
  return first;
}

int RunCli(const std::vector<std::filesystem::path>& args, Console& console) {
  SetLanguage(UserLanguage());
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
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n" + Synopsis());
    return kUsage;
  }
}

}  // namespace halfmap::cli
