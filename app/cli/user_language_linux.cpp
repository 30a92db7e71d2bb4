// The user's language on Linux: the locale's variables, in the order the C
// library reads them.
#include <cstdlib>

#include "app/cli/messages.h"

namespace halfmap::cli {

Language UserLanguage() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace halfmap::cli
