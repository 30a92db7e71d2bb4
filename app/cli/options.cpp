#include "app/cli/options.h"

#include <charconv>
#include <string>
#include <string_view>
#include <utility>

#include "app/cli/messages.h"
#include "mapconv/errors.h"

namespace halfmap::cli {
namespace {

// "/?" asks for help where that is the system's own convention (Windows,
// where no file name holds a "?"); elsewhere it stays a folder name. The
// build says which.
constexpr bool kSlashAsksForHelp = HALFMAP_SLASH_HELP;

constexpr std::string_view kLongOptions[] = {"--help",   "--version", "--quiet", "--json",
                                             "--verify", "--changed", "--watch", "--jobs"};

// True when one insertion, deletion, substitution or swap of neighbours
// makes a into b: the slips of a hand on a keyboard.
bool OneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t same = 0;
  while (same < a.size() && a[same] == b[same]) ++same;
  if (same == b.size()) return false;  // equal
  if (a.size() < b.size()) return a.substr(same) == b.substr(same + 1);
  if (a.substr(same + 1) == b.substr(same + 1)) return true;
  return same + 1 < a.size() && a[same] == b[same + 1] && a[same + 1] == b[same] &&
         a.substr(same + 2) == b.substr(same + 2);
}

UsageError UnknownOption(const std::string& text) {
  for (const std::string_view known : kLongOptions) {
    if (OneEditApart(text, known)) return UsageError(Say(Msg::DidYouMean, {text, known}));
  }
  return UsageError(Say(Msg::UnknownOption, {text}));
}

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
      if (kSlashAsksForHelp && !optionsEnd && text == "/?") {
        options_.mode = Mode::Help;
      } else if (optionsEnd || text.empty() || text[0] != '-' || text == "-") {
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
        throw UnknownOption(text);
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
