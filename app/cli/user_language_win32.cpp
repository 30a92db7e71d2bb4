// The user's language on Windows: the user interface language, which a
// console program's messages should follow rather than the formats locale.
#include <windows.h>

#include "app/cli/messages.h"

namespace halfmap::cli {

Language UserLanguage() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese : Language::English;
}

}  // namespace halfmap::cli
