// Entry of halfmap-cli on Windows: wmain, so arguments stay UTF-16 and
// folder names outside the ANSI code page work; Ctrl+C and Ctrl+Break taken
// as an abort, and so are closing the console, logging off and shutting
// down; text written to a console as UTF-16, elsewhere as UTF-8.
#include <windows.h>

#include <exception>
#include <string>
#include <string_view>
#include <system_error>

#include "app/cli/cli.h"
#include "app/cli/messages.h"
#include "app/cli/options.h"
#include "app/common/dll_search.h"
#include "app/common/wide_text.h"

namespace {

// Set once the run is over and its scratch files are gone. Made before
// main and never closed, as the control handler runs on a thread of its own.
const HANDLE gRunOver = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

// The system ends the process about five seconds after a close, logoff or
// shutdown event; the run gets most of that to clean up.
constexpr DWORD kEndingGraceMs = 4500;

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
    const std::wstring text = halfmap::win32::Widen(utf8);
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

class Win32Console final : public halfmap::cli::Console {
 public:
  void Out(std::string_view utf8) override { Write(::GetStdHandle(STD_OUTPUT_HANDLE), utf8); }
  void Err(std::string_view utf8) override { Write(::GetStdHandle(STD_ERROR_HANDLE), utf8); }
  // Progress needs a console that takes the cursor movements it is drawn with.
  int ErrTerminalColumns() override {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleMode(err, &mode) ||
        !::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
        !::GetConsoleScreenBufferInfo(err, &info)) {
      return 0;
    }
    // What shows, not the buffer, which may be far wider than the window.
    return info.srWindow.Right - info.srWindow.Left + 1;
  }

 private:
  void Write(HANDLE handle, std::string_view utf8) {
    if (const std::error_code failure = WriteAll(handle, utf8)) WriteFailed(failure);
  }
};

BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // A second press is left to the default handler, which ends the program.
      return halfmap::cli::RequestInterrupt() ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns, whatever it returns: the run is
      // stopped as by Ctrl+C and waited for.
      halfmap::cli::RequestInterrupt();
      ::WaitForSingleObject(gRunOver, kEndingGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

struct RunOver {
  ~RunOver() { ::SetEvent(gRunOver); }
};

// False for a lone surrogate, which no name in UTF-8 can hold.
bool IsText(std::wstring_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
    const bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      return false;
    }
  }
  return true;
}

// Names the first argument that is not text, shown with U+FFFD in the
// surrogate's place; false when there is none.
bool RefuseNonText(int argc, wchar_t** argv, halfmap::cli::Console& console) {
  for (int i = 1; i < argc; ++i) {
    if (IsText(argv[i])) continue;
    halfmap::cli::SetLanguage(halfmap::cli::UserLanguage());
    const std::string shown = halfmap::win32::Narrow(argv[i]);
    console.Err("halfmap-cli: " + halfmap::cli::Say(halfmap::cli::Msg::NotText, {shown}) + "\n" +
                halfmap::cli::Synopsis());
    return true;
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  halfmap::win32::LoadDllsFromSystemOnly();
  Win32Console console;
  const RunOver runOver;
  try {
    ::SetConsoleCtrlHandler(OnControl, TRUE);
    if (RefuseNonText(argc, argv, console)) return halfmap::cli::kUsage;
    return halfmap::cli::RunCli({argv + 1, argv + argc}, console);
  } catch (const std::exception& e) {
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n");
    return halfmap::cli::kSomeFailed;
  }
}
