#include "app/cli/interrupts.h"

#include <signal.h>

#include "app/cli/cli.h"

namespace halfmap::cli {
namespace {

// The first signal stops the run as Abort does; a second one, for a run
// that cannot reach its next row, ends the program the default way.
void OnSignal(int signal) {
  if (RequestInterrupt()) return;
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

InterruptHandling::InterruptHandling() {
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

// Nothing waits for the run here: a signal's handler returns at once.
InterruptHandling::~InterruptHandling() = default;

}  // namespace halfmap::cli
