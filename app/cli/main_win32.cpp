// Entry of halfmap-cli on Windows: wmain, so arguments stay UTF-16 and
// folder names outside the ANSI code page work; Ctrl+C and Ctrl+Break taken
// as an abort; text written to a console as UTF-16, elsewhere as UTF-8.
#include <windows.h>

#include <exception>
#include <string>

#include "app/cli/cli.h"
#include "app/wide_text.h"

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

void WriteAll(HANDLE handle, std::string_view utf8) {
  if (IsConsole(handle)) {
    const std::wstring text = halfmap::win32::Widen(utf8);
    DWORD done = 0;
    ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    return;
  }
  while (!utf8.empty()) {
    DWORD done = 0;
    if (!::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr) || done == 0) return;
    utf8.remove_prefix(done);
  }
}

class Win32Console final : public halfmap::cli::Console {
 public:
  void Out(std::string_view utf8) override { WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), utf8); }
  void Err(std::string_view utf8) override { WriteAll(::GetStdHandle(STD_ERROR_HANDLE), utf8); }
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
    return info.dwSize.X;
  }
};

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // A second press is left to the default handler, which ends the program.
  return halfmap::cli::RequestInterrupt() ? TRUE : FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Win32Console console;
  try {
    ::SetConsoleCtrlHandler(OnControl, TRUE);
    return halfmap::cli::RunCli({argv + 1, argv + argc}, console);
  } catch (const std::exception& e) {
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n");
    return halfmap::cli::kSomeFailed;
  }
}
