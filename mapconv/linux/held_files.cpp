// Whether another program is writing a file, for a watch that waits for
// the writer's close.
#include <chrono>
#include <thread>

#include "mapconv/linux/posix_calls.h"

namespace mapconv::fs {
namespace {

bool LeaseRefused(const std::filesystem::path& file) {
  const File reader = OpenNonBlocking(file, O_RDONLY);
  // A read lease is refused exactly while someone holds the file for writing.
  if (!reader || ::fcntl(Fd(reader), F_SETLEASE, F_RDLCK) == 0) return false;
  return errno == EAGAIN;
}

}  // namespace

bool HeldForWriting(const std::filesystem::path& file) {
  // The system tells of a writer's close a moment before it stops counting
  // that writer, so a hold that ends within a short while was that close.
  for (int tries = 0; tries < 20; ++tries) {
    if (!LeaseRefused(file)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace mapconv::fs
