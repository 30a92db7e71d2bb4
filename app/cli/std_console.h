// The process's own standard output and error as halfmap-cli's Console.
#pragma once

#include <string_view>

#include "app/cli/cli.h"

namespace halfmap::cli {

// Writes straight to the system's descriptors or handles, unbuffered: on
// Linux as the bytes given, on Windows as UTF-16 to a console and as UTF-8
// elsewhere.
class StdConsole final : public Console {
 public:
  void Out(std::string_view utf8) override;
  void Err(std::string_view utf8) override;
  int ErrTerminalColumns() override;

 private:
  enum class Stream { Out, Err };
  void Write(Stream stream, std::string_view utf8);
};

}  // namespace halfmap::cli
