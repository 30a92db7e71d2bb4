// Entry of halfmap-cli on Linux: arguments as the bytes they came in,
// SIGINT, SIGTERM, SIGHUP and a closed stdout taken as an abort, text
// written straight to the descriptors.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <string>
#include <system_error>

#include "app/cli/cli.h"

namespace {

// False when the text could not all be written, with errno saying why.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // nowhere left to report to
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

class PosixConsole final : public halfmap::cli::Console {
 public:
  // A reader of a pipe that has gone (as head does) stops the run as Ctrl+C
  // stops it; a full disk or any other failure fails it.
  void Out(std::string_view utf8) override { Write(STDOUT_FILENO, utf8); }
  void Err(std::string_view utf8) override { Write(STDERR_FILENO, utf8); }
  int ErrTerminalColumns() override {
    if (!::isatty(STDERR_FILENO)) return 0;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
  }

 private:
  void Write(int fd, std::string_view utf8) {
    // A write that takes nothing and says nothing: nowhere left to write.
    errno = ENOSPC;
    if (!WriteAll(fd, utf8)) WriteFailed({errno, std::generic_category()});
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
  // SIGHUP: the terminal or ssh session closed. A signal ignored from the
  // start (nohup, a background job) stays ignored.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
      ::sigaction(signal, &action, nullptr);
    }
  }
  // A failed write is reported as such: past the file size limit (ulimit -f)
  // as "File too large" with the scratch file removed, to a closed pipe as
  // EPIPE, rather than ending the program with the scratch file left.
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
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
