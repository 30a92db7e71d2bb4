// Runs the conversion on a map held in memory and compares what it did with
// a plain model of the format. Shared by the fuzzer and by the test that
// replays the kept inputs, so both judge a run by the same rules.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "mapconv/halve_map.h"

namespace hardening {

// A bar for runs whose progress does not matter.
class SilentBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int) override {}
  void SetMax(int) override {}
  void SetPosition(int) override {}
};

using Bytes = std::vector<std::byte>;

// TooLarge: a run-length map whose output is too large to hold in memory;
// Replay passes it over.
enum class Outcome { Done, ShortRead, FormatError, TooLarge };

struct Expected {
  Outcome outcome = Outcome::Done;
  Bytes output;  // the whole output file when outcome is Done
};

// What a conversion of this input must come to, worked out byte by byte.
Expected Model(std::span<const std::byte> input);

// Converts input in memory; returns an empty string when the result, the
// failure kind and the bar's final state agree with Model, or else what
// differs.
std::string Replay(std::span<const std::byte> input);

}  // namespace hardening
