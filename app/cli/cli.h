// halfmap-cli after its entry point: parses the command line, converts the
// maps of every folder given (or the one bitmap of -o) over the mapconv
// core, and reports on the console the entry point provides.
#pragma once

#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

namespace halfmap::cli {

enum ExitStatus : int {
  kConverted = 0,
  kSomeFailed = 1,
  kUsage = 2,
  kNothingToConvert = 3,
  kInterrupted = 130,
};

// Where the text goes; each platform's entry point provides one, and tells
// WriteFailed of every write that did not all get through.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(std::string_view utf8) = 0;
  virtual void Err(std::string_view utf8) = 0;
  // Columns of stderr when it is a terminal that can show progress, else 0.
  virtual int ErrTerminalColumns() = 0;

  // The first failed write's error, empty while every write got through.
  std::error_code WriteFailure() const;

 protected:
  // A closed pipe (std::errc::broken_pipe: its reader has gone) stops the
  // run as Ctrl+C does; any other failure ends it with status 1.
  void WriteFailed(std::error_code code);

 private:
  mutable std::mutex mutex_;
  std::error_code failure_;
};

// Safe in a signal handler: running conversions stop at their next row, as
// an Abort in the window does, and no other conversion starts. Returns false
// when an interrupt was already requested, so a second one can end the
// program at once.
bool RequestInterrupt() noexcept;

// True once an interrupt was requested.
bool Interrupted() noexcept;

// The exit status is one of ExitStatus.
int RunCli(const std::vector<std::filesystem::path>& args, Console& console);

}  // namespace halfmap::cli
