#include "app/cli/std_console.h"

#include <windows.h>

#include <string>
#include <system_error>

#include "app/common/wide_text.h"

namespace halfmap::cli {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

// The error of a write that did not all get through, empty when it did. A
// pipe whose reader has gone says so as POSIX does, so the run stops as
// Ctrl+C stops it (exit 130, as head -n1 expects).
std::error_code WriteAll(HANDLE handle, std::string_view utf8) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};  // no console given: nothing is asked
  if (IsConsole(handle)) {
    const std::wstring text = win32::Widen(utf8);
    DWORD done = 0;
    if (::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &done, nullptr)) return {};
    return {static_cast<int>(::GetLastError()), std::system_category()};
  }
  while (!utf8.empty()) {
    DWORD done = 0;
    if (!::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr)) {
      const DWORD error = ::GetLastError();
      // Windows says ERROR_NO_DATA; Wine, over a POSIX pipe, ERROR_PIPE_NOT_CONNECTED.
      if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
        return std::make_error_code(std::errc::broken_pipe);
      }
      return {static_cast<int>(error), std::system_category()};
    }
    if (done == 0) return std::make_error_code(std::errc::no_space_on_device);
    utf8.remove_prefix(done);
  }
  return {};
}

}  // namespace

void StdConsole::Out(std::string_view utf8) { Write(Stream::Out, utf8); }
void StdConsole::Err(std::string_view utf8) { Write(Stream::Err, utf8); }

// Progress needs a console that takes the cursor movements it is drawn with.
int StdConsole::ErrTerminalColumns() {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleMode(err, &mode) || !::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
      !::GetConsoleScreenBufferInfo(err, &info)) {
    return 0;
  }
  // What shows, not the buffer, which may be far wider than the window.
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void StdConsole::Write(Stream stream, std::string_view utf8) {
  const HANDLE handle = ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (const std::error_code failure = WriteAll(handle, utf8)) WriteFailed(failure);
}

}  // namespace halfmap::cli
