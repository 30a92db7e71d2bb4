#include "mapconv/linux/extended_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

namespace mapconv::fs {
namespace {

bool Carried(std::string_view name) { return name == "system.posix_acl_access" || name.starts_with("user."); }

// A list or value the system gives by size: asked with no room first, then
// again as long as it grows meanwhile. nullopt where there is none.
template <class Ask>
std::optional<std::vector<char>> Sized(Ask ask) {
  std::vector<char> bytes;
  for (;;) {
    const ssize_t size = ask(nullptr, 0);
    if (size < 0) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(size));
    const ssize_t got = size == 0 ? 0 : ask(bytes.data(), bytes.size());
    if (got >= 0) {
      bytes.resize(static_cast<std::size_t>(got));
      return bytes;
    }
    if (errno != ERANGE) return std::nullopt;
  }
}

}  // namespace

void CopyExtendedAttributes(int from, int to) noexcept {
  try {
    const auto names = Sized([&](char* list, std::size_t size) { return ::flistxattr(from, list, size); });
    for (std::size_t at = 0; names && at < names->size();) {
      const std::string_view name(names->data() + at);
      at += name.size() + 1;
      if (!Carried(name)) continue;
      const auto value =
          Sized([&](char* bytes, std::size_t size) { return ::fgetxattr(from, name.data(), bytes, size); });
      if (value) ::fsetxattr(to, name.data(), value->data(), value->size(), 0);
    }
  } catch (...) {
    // Out of memory for a list: the attributes are left behind.
  }
}

}  // namespace mapconv::fs
