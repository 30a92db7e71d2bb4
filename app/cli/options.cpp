#include "app/cli/options.h"

#include <charconv>
#include <string>

#include "mapconv/errors.h"

namespace halfmap::cli {
namespace {

constexpr std::string_view kSynopsis =
    "usage: halfmap-cli [-j N] [-q] [--json] [FOLDER...]\n"
    "       halfmap-cli [-q] [--json] -o OUTPUT INPUT\n"
    "       halfmap-cli --help | --version\n";

constexpr std::string_view kOptions =
    "\n"
    "Writes half-scale copies of MAP29361206-1.BMP, -NS1.BMP and -X1.BMP in each\n"
    "FOLDER (the current folder when none is given) as MAP29361206-2.BMP,\n"
    "-NS2.BMP and -X2.BMP.\n"
    "\n"
    "  -j, --jobs N   convert up to N maps at once (1 to 64, default 1)\n"
    "  -q, --quiet    no progress display on the terminal\n"
    "      --json     one JSON object per map on stdout\n"
    "  -o OUTPUT      convert the one bitmap INPUT to OUTPUT\n"
    "\n"
    "Exit status: 0 all converted, 1 a map failed, 2 usage error,\n"
    "3 nothing to convert, 130 interrupted.\n";

int ParseJobs(std::string_view text) {
  int jobs = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMaxJobs) {
    throw UsageError("-j takes a number from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                     std::string(text) + "'");
  }
  return jobs;
}

// Walks the arguments; an option that takes a value takes the next one.
class Parser {
 public:
  explicit Parser(const std::vector<std::filesystem::path>& args) : args_(args) {}

  Options Parse() {
    bool jobsGiven = false;
    bool optionsEnd = false;
    while (next_ < args_.size()) {
      const std::filesystem::path& arg = args_[next_++];
      const std::string text = mapconv::PathText(arg);
      if (optionsEnd || text.empty() || text[0] != '-' || text == "-") {
        options_.inputs.push_back(arg);
      } else if (text == "--") {
        optionsEnd = true;
      } else if (text == "-h" || text == "--help") {
        options_.mode = Mode::Help;
      } else if (text == "--version") {
        options_.mode = Mode::Version;
      } else if (text == "-q" || text == "--quiet") {
        options_.quiet = true;
      } else if (text == "--json") {
        options_.json = true;
      } else if (text == "-j" || text == "--jobs") {
        options_.jobs = ParseJobs(Value(text));
        jobsGiven = true;
      } else if (text.starts_with("--jobs=")) {
        options_.jobs = ParseJobs(std::string_view(text).substr(7));
        jobsGiven = true;
      } else if (text.starts_with("-j")) {
        options_.jobs = ParseJobs(std::string_view(text).substr(2));
        jobsGiven = true;
      } else if (text == "-o") {
        Value(text);
        options_.output = args_[next_ - 1];
      } else {
        throw UsageError("unknown option '" + text + "'");
      }
    }
    if (options_.output) {
      if (options_.inputs.size() != 1) throw UsageError("-o takes exactly one INPUT");
      if (jobsGiven) throw UsageError("-o converts one bitmap and takes no -j");
    }
    return options_;
  }

 private:
  std::string Value(const std::string& option) {
    if (next_ >= args_.size()) throw UsageError(option + " needs a value");
    return mapconv::PathText(args_[next_++]);
  }

  const std::vector<std::filesystem::path>& args_;
  std::size_t next_ = 0;
  Options options_;
};

}  // namespace

Options ParseArguments(const std::vector<std::filesystem::path>& args) {
  return Parser(args).Parse();
}

std::string_view Synopsis() { return kSynopsis; }

std::string_view HelpText() {
  static const std::string text = std::string(kSynopsis) + std::string(kOptions);
  return text;
}

}  // namespace halfmap::cli
