#include "app/cli/options.h"

#include <charconv>
#include <string>

#include "app/cli/messages.h"
#include "mapconv/errors.h"

namespace halfmap::cli {
namespace {

int ParseJobs(std::string_view text) {
  int jobs = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMaxJobs) {
    throw UsageError(Say(Msg::BadJobs, {std::to_string(kMaxJobs), text}));
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
      } else if (text == "--verify") {
        options_.verify = true;
      } else if (text == "--changed") {
        options_.changed = true;
      } else if (text == "--watch") {
        options_.watch = true;
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
        throw UsageError(Say(Msg::UnknownOption, {text}));
      }
    }
    if (options_.output) {
      if (options_.inputs.size() != 1) throw UsageError(Say(Msg::OutputOneInput));
      if (jobsGiven) throw UsageError(Say(Msg::OutputNoJobs));
    }
    if (options_.verify && (options_.changed || options_.watch)) throw UsageError(Say(Msg::ModesExclusive));
    return options_;
  }

 private:
  std::string Value(const std::string& option) {
    if (next_ >= args_.size()) throw UsageError(Say(Msg::NeedsValue, {option}));
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

std::string Synopsis() { return Say(Msg::Synopsis); }

std::string HelpText() { return Say(Msg::Synopsis) + Say(Msg::Help); }

}  // namespace halfmap::cli
