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

bool Absent(std::error_code error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

// Why folder, given as one, is none: missing, a file (perhaps the one
// bitmap meant for -o), or a name the system cannot follow.
std::string NotAFolderText(const std::filesystem::path& folder) {
  const std::string name = mapconv::PathText(folder);
  std::error_code error;
  const auto status = std::filesystem::status(folder, error);
  if (status.type() == std::filesystem::file_type::not_found || Absent(error)) {
    return Say(Msg::NoSuchFolder, {name});
  }
  if (error) return Say(Msg::FolderFails, {name, SystemReason(error)});
  if (std::filesystem::is_regular_file(status)) return Say(Msg::FileNotFolder, {name, name});
  return Say(Msg::NotAFolder, {name});
}

// The folders to convert: given ones checked and without repeats, or the
// current one. Raises UsageError.
std::vector<std::filesystem::path> Folders(const std::vector<std::filesystem::path>& given) {
  if (given.empty()) return {std::filesystem::path()};
  std::vector<std::filesystem::path> folders;
  std::vector<mapconv::fs::FileId> seen;  // the same folder may come under other names
  for (const auto& folder : given) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) throw UsageError(NotAFolderText(folder));
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
    // Under the names the folder holds, whatever their case: that is what
    // is read, written, watched and reported.
    Job& job = jobs.emplace_back();
    job.report.input = mapconv::fs::FindFile(map.input).value_or(map.input);
    job.report.output = mapconv::fs::FindFile(map.output).value_or(map.output);
  }
  return jobs;
}

// Why the presence test passed over an input: it is missing, or it is a
// device, folder, pipe or link that leads nowhere; empty for a missing one
// when missing says nothing.
std::string WhyNotPresent(const std::filesystem::path& input, bool missing) {
  // On Windows a device name such as NUL is no file the system can find.
  if (mapconv::fs::IsDevice(input)) return Say(Msg::Device);
  std::error_code error;
  const auto status = std::filesystem::status(input, error);
  if (status.type() == std::filesystem::file_type::not_found || Absent(error)) {
    // A link whose target is missing is still something of that name.
    std::error_code ignored;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(input, ignored))) return Say(Msg::NoSuchBitmap);
    return missing ? Say(Msg::NoSuchBitmap) : "";
  }
  if (error) return SystemReason(error);
  return std::filesystem::is_regular_file(status) ? "" : Say(Msg::NotRegularFile);
}

// The folders of the maps, the current one by its full name, which a bare
// run leaves unsaid.
std::string FolderList(const std::vector<mapconv::MapPaths>& maps) {
  std::vector<std::filesystem::path> folders;
  for (const auto& map : maps) {
    const auto folder = map.input.parent_path();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  std::string list;
  for (const auto& folder : folders) {
    std::error_code ignored;
    const auto named = folder.empty() ? std::filesystem::current_path(ignored) : folder;
    list += (list.empty() ? "" : ", ") + mapconv::PathText(named.empty() ? "." : named);
  }
  return list;
}

std::string NothingText(const Options& options, const std::vector<mapconv::MapPaths>& maps) {
  // A map's name that holds no bitmap says why rather than nothing at all.
  for (const auto& map : maps) {
    const std::string why = WhyNotPresent(map.input, options.output.has_value());
    if (!why.empty()) return "halfmap-cli: " + Printable(mapconv::PathText(map.input)) + ": " + why + "\n";
  }
  return "halfmap-cli: " + Say(Msg::NothingToDo, {FolderList(maps)}) + "\n";
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
  console.Err("halfmap-cli: " + WithSystemReason(Say(Msg::CannotWatch), e.code()) + "\n");
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
    const auto named = [](const std::filesystem::path& folder) { return mapconv::PathText(folder.empty() ? "." : folder); };
    for (const auto& folder : news.gone) console.Err("halfmap-cli: " + Say(Msg::FolderGone, {named(folder)}) + "\n");
    for (const auto& folder : news.replaced) {
      console.Err("halfmap-cli: " + Say(Msg::FolderReplaced, {named(folder)}) + "\n");
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
    console.Err(NothingText(options, maps));
    return kNothingToConvert;
  }
  const bool succeeded = RunAll(jobs, options, console);
  if (Interrupted()) return kInterrupted;
  if (watch) return WatchAll(maps, *watch, options, console);
  return succeeded ? kConverted : kSomeFailed;
}

}  // namespace

std::error_code Console::WriteFailure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

void Console::WriteFailed(std::error_code code) {
  if (code == std::errc::broken_pipe) RequestInterrupt();
  const std::lock_guard lock(mutex_);
  if (!failure_) failure_ = code;
}

bool Interrupted() noexcept { return gInterrupted.load(std::memory_order_relaxed); }

bool RequestInterrupt() noexcept {
  const bool first = !gInterrupted.exchange(true, std::memory_order_relaxed);
  WakeFileWatches();
  return first;
}

namespace {

int Run(const std::vector<std::filesystem::path>& args, Console& console) {
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

}  // namespace

int RunCli(const std::vector<std::filesystem::path>& args, Console& console) {
  SetLanguage(UserLanguage());
  const int status = Run(args, console);
  // Results that did not reach their reader are no success.
  const std::error_code failure = console.WriteFailure();
  if (!failure) return status;
  if (failure == std::errc::broken_pipe) return kInterrupted;
  console.Err("halfmap-cli: " + WithSystemReason(Say(Msg::CannotReport), failure) + "\n");
  return status == kInterrupted ? kInterrupted : kSomeFailed;
}

}  // namespace halfmap::cli
