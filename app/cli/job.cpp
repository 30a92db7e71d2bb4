#include "app/cli/job.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
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

using mapconv::Converted;

// The input under the name the conversion opens.
std::filesystem::path Found(const std::filesystem::path& input) { return mapconv::fs::FindFile(input).value_or(input); }

// Whether someone wrote to the input between two stamps: its size or its
// modification time moved, or it came or went. A change of its mode or
// owner alone (the change time) is no new map.
bool Rewritten(const std::optional<mapconv::fs::Stamp>& before, const std::optional<mapconv::fs::Stamp>& after) {
  if (!before || !after) return before.has_value() != after.has_value();
  return before->size != after->size || before->modified != after->modified;
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
// Returns what the core converted or checked, nothing where it did neither.
std::optional<Converted> Process(Job& job, const Options& options, const std::function<void()>& check) {
  MapReport& report = job.report;
  if (SameFile(report.input, report.output)) {
    report.status = Status::Failed;
    report.error = Say(Msg::SameFile);
  } else if (options.verify && !mapconv::present(report.output)) {
    report.status = Status::Missing;
  } else if (options.verify) {
    const mapconv::Compared compared = mapconv::CompareFile(report.input, report.output, job.bar, check);
    report.status = compared.difference ? Status::Differs : Status::Verified;
    report.differsAt = compared.difference.value_or(0);
    return compared.map;
  } else if (options.changed && UpToDate(report.input, report.output)) {
    report.status = Status::Unchanged;
  } else if (options.output) {
    return mapconv::ConvertFile(report.input, report.output, job.bar, check);
  } else {
    return mapconv::ConvertFolderMap(report.input, report.output, job.bar, check);
  }
  return std::nullopt;
}

// Process, with every failure put into the report in the user's words.
std::optional<Converted> Attempt(Job& job, const Options& options) {
  MapReport& report = job.report;
  bool aborted = false;
  const std::function<void()> check = [&aborted] {
    if (!Interrupted()) return;
    aborted = true;
    throw mapconv::EForceBreak(std::string(ui::text::kAborted));
  };
  report.status = Status::Converted;
  try {
    return Process(job, options, check);
  } catch (...) {
    report.error = aborted ? Say(Msg::Interrupted) : FailureText(std::current_exception());
  }
  report.status = aborted ? Status::Aborted : Status::Failed;
  return std::nullopt;
}

// The sizes as the core read and made them; where it converted nothing, as
// the headers say, the output's too for a map left unchanged.
void SetSizes(MapReport& report, const std::optional<Converted>& converted) {
  if (converted) {
    report.size = converted->in;
    if (report.status != Status::Differs) report.outSize = converted->out;
    return;
  }
  report.size = mapconv::ReadMapSize(report.input);
  if (report.status == Status::Unchanged) report.outSize = mapconv::ReadMapSize(report.output);
}

}  // namespace

void RunJob(Job& job, const Options& options) {
  MapReport& report = job.report;
  // A watch leaves a map that is still being written for its writer's close.
  job.superseded = options.watch && mapconv::fs::HeldForWriting(report.input);
  if (job.superseded) return;
  std::error_code ignored;
  job.inputBytes = std::filesystem::file_size(report.input, ignored);
  const std::optional<mapconv::fs::Stamp> before =
      options.watch ? mapconv::fs::StampOf(Found(report.input)) : std::nullopt;
  job.started = Clock::now();
  job.running = true;
  const std::optional<Converted> converted = Attempt(job, options);
  job.running = false;
  report.seconds = std::chrono::duration<double>(Clock::now() - job.started).count();
  // No writer holds a file against a reader here, so a watch can only see
  // afterwards that the input changed under the conversion; the writer's
  // close then brings it round again, and this result is not told. The
  // stamp is taken once a writer closing just now has closed: before, it
  // may still show the file as that writer's truncation left it.
  job.superseded = options.watch && (mapconv::fs::HeldForWriting(report.input) ||
                                     Rewritten(before, mapconv::fs::StampOf(Found(report.input))));
  SetSizes(report, converted);
}

}  // namespace halfmap::cli
