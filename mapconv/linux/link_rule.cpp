#include "mapconv/linux/link_rule.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "mapconv/errors.h"
#include "mapconv/linux/posix_calls.h"

namespace mapconv::fs {
namespace {

constexpr int kMostHops = 40;  // the system's own limit on a chain

// The kernel's rule, as fs.protected_symlinks=1 applies it.
bool MayFollow(const struct stat& folder, const struct stat& link) {
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

File OpenFolder(int base, const std::filesystem::path& folder) {
  const char* name = folder.empty() ? "." : folder.c_str();
  return File(Retry([&] { return ::openat(base, name, O_PATH | O_DIRECTORY | O_CLOEXEC); }));
}

// A name the folder can be asked about: a path ending in a separator names
// the folder itself.
std::string NameOf(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  return name.empty() ? "." : name;
}

std::filesystem::path ReadLinkAt(const File& folder, const std::string& name, std::error_code& error) {
  std::vector<char> target(256);
  for (;;) {
    const ssize_t n = ::readlinkat(Fd(folder), name.c_str(), target.data(), target.size());
    if (n < 0) {
      error = LastError();
      return {};
    }
    if (static_cast<std::size_t>(n) < target.size()) return std::string(target.data(), static_cast<std::size_t>(n));
    target.resize(target.size() * 2);
  }
}

}  // namespace

LinkFreeName FollowTrustedLinks(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  LinkFreeName at{OpenFolder(AT_FDCWD, path.parent_path()), {}, path};
  if (!at.folder) error = LastError();
  at.name = NameOf(path);
  for (int hop = 0; hop < kMostHops && !error; ++hop) {
    struct stat link {};
    struct stat folder {};
    // Not a link, or nothing there yet.
    if (::fstatat(Fd(at.folder), at.name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)) return at;
    if (::fstat(Fd(at.folder), &folder) != 0) {
      error = LastError();
    } else if (!MayFollow(folder, link)) {
      error = make_error_code(FileError::ForeignLink);
    } else if (const std::filesystem::path target = ReadLinkAt(at.folder, at.name, error); !error) {
      at.folder = OpenFolder(target.is_absolute() ? AT_FDCWD : Fd(at.folder), target.parent_path());
      if (!at.folder) error = LastError();
      at.path = target.is_absolute() ? target : at.path.parent_path() / target;
      at.name = NameOf(target);
    }
  }
  if (!error) error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
  return at;
}

File OpenAt(const LinkFreeName& at, int flags, mode_t mode) {
  return OpenNonBlockingAt(Fd(at.folder), at.name.c_str(), flags | O_NOFOLLOW, mode);
}

}  // namespace mapconv::fs
