// What halfmap-cli prints about each map: a text line or a JSON line on
// stdout, and the error line on stderr. Every string returned is UTF-8 and
// ends with a newline.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "mapconv/halve_map.h"

namespace halfmap::cli {

enum class Status { Converted, Unchanged, Verified, Differs, Missing, Failed, Aborted };

// Converted, unchanged or verified: what the run was asked for.
bool Succeeded(Status status);

using Size = mapconv::MapSize;

struct MapReport {
  std::filesystem::path input;
  std::filesystem::path output;
  Status status = Status::Converted;
  std::string error;          // why it failed, in the user's language; empty otherwise
  std::int64_t differsAt = 0; // the first differing byte, when Differs
  std::optional<Size> size;   // of the input, when the conversion reads its headers
  std::optional<Size> outSize;
  double seconds = 0;
};

// "IN -> OUT  WxH -> W2xH2  0.42 s", sizes it does not know shown as "?";
// for the other statuses but failures the status line of messages.h. Names
// are Printable (escape.h).
std::string TextLine(const MapReport& report);

// One JSON object with the keys input, output, status, error, width, height,
// out_width, out_height and seconds, and offset when it differs; unknown
// values are null. Names are exact: JsonString (escape.h).
std::string JsonLine(const MapReport& report);

// "halfmap-cli: IN: message", Printable.
std::string ErrorLine(const MapReport& report);

}  // namespace halfmap::cli
