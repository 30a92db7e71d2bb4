// The system's ways of asking halfmap-cli to stop.
#pragma once

namespace halfmap::cli {

// While this lives, the system's requests to stop (Ctrl+C, SIGTERM, a
// closed terminal or console, logging off) stop the run as Abort does in the
// window: they call RequestInterrupt. Where the system ends the process as
// soon as its handler returns (closing a Windows console), the handler waits
// a little for this to be destroyed, once the run is over and its scratch
// files are gone.
class InterruptHandling {
 public:
  InterruptHandling();
  ~InterruptHandling();
  InterruptHandling(const InterruptHandling&) = delete;
  InterruptHandling& operator=(const InterruptHandling&) = delete;
};

}  // namespace halfmap::cli
