// Entry of halfmap-cli on Linux: arguments as the bytes they came in,
// SIGINT and SIGTERM taken as an abort, text written straight to the
// descriptors.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <string>

#include "app/cli/cli.h"

namespace {

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to report to
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

class PosixConsole final : public halfmap::cli::Console {
 public:
  void Out(std::string_view utf8) override { WriteAll(STDOUT_FILENO, utf8); }
  void Err(std::string_view utf8) override { WriteAll(STDERR_FILENO, utf8); }
  int ErrTerminalColumns() override {
    if (!::isatty(STDERR_FILENO)) return 0;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
  }
};

// The first signal stops the run as Abort does; a second one, for a run
// that cannot reach its next row, ends the program the default way.
void OnSignal(int signal) {
  if (halfmap::cli::RequestInterrupt()) return;
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A watch tests for writers with a file lease, whose break would otherwise
  // end the program with this signal.
  ::signal(SIGIO, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  PosixConsole console;
  try {
    CatchInterrupts();
    return halfmap::cli::RunCli({argv + 1, argv + argc}, console);
  } catch (const std::exception& e) {
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n");
    return halfmap::cli::kSomeFailed;
  }
}
