// The command line of halfmap-cli, parsed in full before anything is
// converted. Arguments arrive as paths, so folder names keep the platform's
// own encoding; options are compared as UTF-8 text.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace halfmap::cli {

enum class Mode { Convert, Help, Version };

struct Options {
  Mode mode = Mode::Convert;
  int jobs = 1;
  bool quiet = false;
  bool json = false;
  bool verify = false;   // compare each output with its conversion, write nothing
  bool changed = false;  // convert only maps whose output is out of date
  bool watch = false;    // after the first run, convert again each map saved
  std::optional<std::filesystem::path> output;  // -o: inputs holds the one INPUT
  std::vector<std::filesystem::path> inputs;    // FOLDERs, or INPUT with -o
};

// A command line that cannot be run; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kMaxJobs = 64;

// Parses the arguments after the program name. Raises UsageError.
Options ParseArguments(const std::vector<std::filesystem::path>& args);

// The synopsis lines, shown after a usage error and at the top of --help,
// in the language chosen.
std::string Synopsis();
std::string HelpText();

}  // namespace halfmap::cli
