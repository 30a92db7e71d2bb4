#include "app/cli/std_console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace halfmap::cli {
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

}  // namespace

// A reader of a pipe that has gone (as head does) stops the run as Ctrl+C
// stops it; a full disk or any other failure fails it.
void StdConsole::Out(std::string_view utf8) { Write(Stream::Out, utf8); }
void StdConsole::Err(std::string_view utf8) { Write(Stream::Err, utf8); }

int StdConsole::ErrTerminalColumns() {
  if (!::isatty(STDERR_FILENO)) return 0;
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

void StdConsole::Write(Stream stream, std::string_view utf8) {
  // A write that takes nothing and says nothing: nowhere left to write.
  errno = ENOSPC;
  if (!WriteAll(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO, utf8)) {
    WriteFailed({errno, std::generic_category()});
  }
}

}  // namespace halfmap::cli
