// Small wrappers over the system calls the POSIX file services share.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "mapconv/file_services.h"

namespace mapconv::fs {

inline int Fd(const File& file) { return static_cast<int>(file.get()); }

// Retries a call interrupted by a signal.
template <typename Call>
auto Retry(Call call) {
  for (;;) {
    auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// An advisory flock that never waits, which is what other careful programs
// on the same machine honour.
inline bool Lock(int fd, int how) { return Retry([&] { return ::flock(fd, how | LOCK_NB); }) == 0; }

// Never blocks: a pipe put in a file's place cannot stall the open. A
// relative name is taken in folder.
inline File OpenNonBlockingAt(int folder, const char* name, int flags, mode_t mode = 0) {
  return File(Retry([&] { return ::openat(folder, name, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode); }));
}

inline File OpenNonBlocking(const std::filesystem::path& path, int flags, mode_t mode = 0) {
  return OpenNonBlockingAt(AT_FDCWD, path.c_str(), flags, mode);
}

// Removes path only while it still names the file held, so that nothing
// put in its place meanwhile is removed.
inline void UnlinkIfStillNamed(const std::filesystem::path& path, const struct stat& held) {
  struct stat named {};
  if (::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
    ::unlink(path.c_str());
  }
}

}  // namespace mapconv::fs
