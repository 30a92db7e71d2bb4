#include "app/cli/cli.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/cli/escape.h"
#include "app/cli/failure_text.h"
#include "app/cli/file_watch.h"
#include "app/cli/job.h"
#include "app/cli/job_queue.h"
#include "app/cli/messages.h"
#include "app/cli/options.h"
#include "app/cli/progress_display.h"
#include "app/cli/report.h"
#include "mapconv/errors.h"
#include "mapconv/file_services.h"
#include "mapconv/map_files.h"

namespace halfmap::cli {
namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

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

// Every map the arguments name, present or not, in run order: a watch also
// waits for inputs that are not there yet. Raises UsageError.
std::vector<mapconv::MapPaths> NamedMaps(const Options& options) {
  if (options.output) return {{options.inputs[0], *options.output}};
  std::vector<mapconv::MapPaths> maps;
  for (const auto& folder : Folders(options.inputs)) {
    for (const auto variant : mapconv::kMapVariants) {
      const auto suffix = mapconv::Suffix(variant);
      maps.push_back({mapconv::InputFileName(folder, suffix), mapconv::OutputFileName(folder, suffix)});
    }
  }
  return maps;
}

// Jobs for the maps whose input is present and, when wanted is given, among it.
Jobs JobsFor(const std::vector<mapconv::MapPaths>& maps, const std::vector<std::filesystem::path>* wanted = nullptr) {
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
  // The presence test takes a folder, pipe or device for no file at all;
  // on Windows a device name such as NUL is no file the system can find.
  const std::filesystem::path& input = options.inputs[0];
  std::error_code ignored;
  const auto status = std::filesystem::status(input, ignored);
  const bool other = std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
  const Msg why = mapconv::fs::IsDevice(input) ? Msg::Device : other ? Msg::NotRegularFile : Msg::NoSuchBitmap;
  return "halfmap-cli: " + Printable(mapconv::PathText(input)) + ": " + Say(why) + "\n";
}

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
  callbacks.run = [&](std::size_t i) { RunJob(jobs[i], options); };
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
  const auto* tooMany = dynamic_cast<const TooManyFolders*>(&e);
  const std::string reason =
      tooMany ? WithReason(Say(Msg::CannotWatch), Say(Msg::TooManyFolders, {std::to_string(tooMany->most())}))
              : WithSystemReason(Say(Msg::CannotWatch), e.code());
  console.Err("halfmap-cli: " + reason + "\n");
  return kSomeFailed;
}

// After the first run, converts each map again as its input is saved, until
// an interrupt; failures are reported and the watch goes on.
int WatchAll(const std::vector<mapconv::MapPaths>& maps, FileWatch& watch, const Options& options, Console& console) {
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
  const std::vector<mapconv::MapPaths> maps = NamedMaps(options);
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

bool Interrupted() noexcept { return gInterrupted.load(std::memory_order_relaxed); }

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
