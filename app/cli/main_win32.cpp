// Entry of halfmap-cli on Windows: wmain, so arguments stay UTF-16 and
// folder names outside the ANSI code page work.
#include <windows.h>

#include <exception>
#include <string>
#include <string_view>

#include "app/cli/cli.h"
#include "app/cli/interrupts.h"
#include "app/cli/messages.h"
#include "app/cli/options.h"
#include "app/cli/std_console.h"
#include "app/common/dll_search.h"
#include "app/common/wide_text.h"

namespace {

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
  halfmap::cli::StdConsole console;
  const halfmap::cli::InterruptHandling interrupts;
  try {
    if (RefuseNonText(argc, argv, console)) return halfmap::cli::kUsage;
    return halfmap::cli::RunCli({argv + 1, argv + argc}, console);
  } catch (const std::exception& e) {
    console.Err("halfmap-cli: " + std::string(e.what()) + "\n");
    return halfmap::cli::kSomeFailed;
  }
}
