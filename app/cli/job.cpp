#include "app/cli/job.h"

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "app/cli/cli.h"
#include "app/cli/failure_text.h"
#include "app/cli/file_watch.h"
#include "app/cli/messages.h"
#include "mapconv/file_services.h"
#include "mapconv/map_files.h"
#include "resources/layout.h"

namespace halfmap::cli {
namespace {

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

// The input under the name the conversion opens.
std::filesystem::path Found(const std::filesystem::path& input) {
  return mapconv::fs::FindFile(input).value_or(input);
}

// By name or as one file under two names (a hard link, another drive
// letter for the same folder).
bool SameFile(const std::filesystem::path& input, const std::filesystem::path& output) {
  std::error_code ignored;
  const std::filesystem::path found = Found(input);
  const auto in = std::filesystem::absolute(found, ignored).lexically_normal();
  const auto out = std::filesystem::absolute(output, ignored).lexically_normal();
  if (in == out) return true;
  const auto inId = mapconv::fs::IdOf(found);
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
  } else if (options.output) {
    mapconv::HalveFile(report.input, report.output, job.bar, check);
  } else {
    mapconv::HalveFolderMap(report.input, report.output, job.bar, check);
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
  } catch (...) {
    report.error = aborted ? Say(Msg::Interrupted) : FailureText(std::current_exception());
  }
  report.status = aborted ? Status::Aborted : Status::Failed;
}

}  // namespace

void RunJob(Job& job, const Options& options) {
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

}  // namespace halfmap::cli
