// Entry of halfmap-cli on Linux: arguments as the bytes they came in.
#include <exception>
#include <string>

#include "app/cli/cli.h"
#include "app/cli/interrupts.h"
#include "app/cli/std_console.h"

int main(int argc, char** argv) {
  halfmap::cli::StdConsole console;
  const halfmap::cli::InterruptHandling interrupts;
  try {
    return halfmap::cli::RunCli({argv + 1, argv + argc}, console);
  } catch (const std::exception& e) {
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n");
    return halfmap::cli::kSomeFailed;
  }
}
