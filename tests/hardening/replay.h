// Runs the conversion on a map held in memory and compares what it did with
// a plain model of the format. Shared by the fuzzer and by the test that
// replays the kept inputs, so both judge a run by the same rules.
#pragma once

#include <cstddef>
#include <cstdint>
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

// TooLarge: a run-length map past the limits below; Replay passes it over.
enum class Outcome { Done, ShortRead, FormatError, TooLarge };

// The largest run-length maps converted in memory: a few bytes of stream can
// stand for gigabytes of pixels. Stored maps need no limit, as every kept
// row is in the input.
struct Limits {
  std::int64_t outputBytes = std::int64_t{1} << 20;
  std::int64_t rows = std::int64_t{1} << 16;
};

struct Expected {
  Outcome outcome = Outcome::Done;
  Bytes output;  // the whole output file when outcome is Done
};

// What a conversion of this input must come to, worked out byte by byte.
Expected Model(std::span<const std::byte> input, Limits limits = {});

// Converts input in memory; returns an empty string when the result, the
// failure kind and the bar's final state agree with Model, or else what
// differs.
std::string Replay(std::span<const std::byte> input, Limits limits = {});

}  // namespace hardening
