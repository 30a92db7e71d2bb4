#include "app/cli/interrupts.h"

#include <windows.h>

#include "app/cli/cli.h"

namespace halfmap::cli {
namespace {

// Set once the run is over and its scratch files are gone. Made before
// main and never closed, as the control handler runs on a thread of its own.
const HANDLE gRunOver = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

// The system ends the process about five seconds after a close, logoff or
// shutdown event; the run gets most of that to clean up.
constexpr DWORD kEndingGraceMs = 4500;

BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // A second press is left to the default handler, which ends the program.
      return RequestInterrupt() ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns, whatever it returns: the run is
      // stopped as by Ctrl+C and waited for.
      RequestInterrupt();
      ::WaitForSingleObject(gRunOver, kEndingGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

InterruptHandling::InterruptHandling() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

InterruptHandling::~InterruptHandling() { ::SetEvent(gRunOver); }

}  // namespace halfmap::cli
