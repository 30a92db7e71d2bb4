// Small wrappers over the system calls the POSIX file services share.
#pragma once

#include <fcntl.h>
#include <sys/file.h>

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

// Never blocks: a pipe put in a file's place cannot stall the open.
inline File OpenNonBlocking(const std::filesystem::path& path, int flags, mode_t mode = 0) {
  return File(Retry([&] { return ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode); }));
}

}  // namespace mapconv::fs
