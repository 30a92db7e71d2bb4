#include "app/cli/report.h"

#include <array>
#include <cstdio>

#include "app/cli/escape.h"
#include "app/cli/messages.h"
#include "mapconv/errors.h"

namespace halfmap::cli {
namespace {

std::string SizeText(const std::optional<Size>& size) {
  if (!size) return "?";
  return std::to_string(size->width) + "x" + std::to_string(size->height);
}

std::string Seconds(double seconds) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.3f", seconds);
  return text.data();
}

std::string Number(const std::optional<Size>& size, std::int64_t Size::*field) {
  return size ? std::to_string((*size).*field) : "null";
}

std::string_view StatusName(Status status) {
  switch (status) {
    case Status::Converted: return "converted";
    case Status::Unchanged: return "unchanged";
    case Status::Verified: return "verified";
    case Status::Differs: return "differs";
    case Status::Missing: return "missing";
    case Status::Failed: return "failed";
    case Status::Aborted: return "aborted";
  }
  return "failed";
}

}  // namespace

bool Succeeded(Status status) {
  return status == Status::Converted || status == Status::Unchanged || status == Status::Verified;
}

std::string TextLine(const MapReport& report) {
  const std::string in = Printable(mapconv::PathText(report.input));
  const std::string out = Printable(mapconv::PathText(report.output));
  switch (report.status) {
    case Status::Unchanged: return Say(Msg::Unchanged, {in, out}) + "\n";
    case Status::Verified: return Say(Msg::Verified, {in, out}) + "\n";
    case Status::Differs: return Say(Msg::Differs, {in, out, std::to_string(report.differsAt)}) + "\n";
    case Status::Missing: return Say(Msg::Missing, {in, out}) + "\n";
    default: break;
  }
  return in + " -> " + out + "  " +
         SizeText(report.size) + " -> " + SizeText(report.outSize) + "  " + Seconds(report.seconds) +
         " s\n";
}

std::string JsonLine(const MapReport& report) {
  const bool failed = report.status == Status::Failed || report.status == Status::Aborted;
  const std::string offset =
      report.status == Status::Differs ? ",\"offset\":" + std::to_string(report.differsAt) : "";
  return "{\"input\":" + JsonString(mapconv::PathText(report.input)) +
         ",\"output\":" + JsonString(mapconv::PathText(report.output)) +
         ",\"status\":" + JsonString(StatusName(report.status)) +
         ",\"error\":" + (failed ? JsonString(report.error) : "null") +
         ",\"width\":" + Number(report.size, &Size::width) +
         ",\"height\":" + Number(report.size, &Size::height) +
         ",\"out_width\":" + Number(report.outSize, &Size::width) +
         ",\"out_height\":" + Number(report.outSize, &Size::height) +
         ",\"seconds\":" + Seconds(report.seconds) + offset + "}\n";
}

std::string ErrorLine(const MapReport& report) {
  return "halfmap-cli: " + Printable(mapconv::PathText(report.input)) + ": " + Printable(report.error) + "\n";
}

}  // namespace halfmap::cli
