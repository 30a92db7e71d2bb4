// The write watch on Linux (the flush step, docs/file-safety.md): inotify on the open file itself, reached through
// /proc/self/fd, so a rename or a second name of the input changes nothing.
#include "mapconv/write_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <string>

#include "mapconv/linux/posix_calls.h"

namespace mapconv::fs {

WriteWatch::WriteWatch(const File& file) noexcept {
  File events(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!events) return;
  const std::string self = "/proc/self/fd/" + std::to_string(Fd(file));
  // IN_MODIFY comes with every write and every truncation, however small.
  if (::inotify_add_watch(Fd(events), self.c_str(), IN_MODIFY) < 0) return;
  events_ = std::move(events);
}

WriteWatch::~WriteWatch() = default;

bool WriteWatch::Written(std::chrono::milliseconds wait) noexcept {
  if (written_ || !events_) return written_;
  pollfd ready{Fd(events_), POLLIN, 0};
  if (Retry([&] { return ::poll(&ready, 1, static_cast<int>(wait.count())); }) <= 0) return false;
  // Only IN_MODIFY is asked for; anything queued (an overflow too) is a write.
  alignas(inotify_event) std::array<char, 4096> buffer;
  written_ = ::read(Fd(events_), buffer.data(), buffer.size()) > 0;
  return written_;
}

}  // namespace mapconv::fs
