// The system's words for an error on Linux: strerror's, through the category.
#include <string>
#include <system_error>

#include "app/cli/messages.h"

namespace halfmap::cli {

std::string PlatformReason(std::error_code code) { return code.message(); }

}  // namespace halfmap::cli
