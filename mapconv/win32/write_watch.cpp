// The write watch on Windows (the flush step, docs/file-safety.md): the input is opened without FILE_SHARE_WRITE,
// so no other program can write to it while it is converted.
#include "mapconv/write_watch.h"

namespace mapconv::fs {

WriteWatch::WriteWatch(const File&) noexcept {}

WriteWatch::~WriteWatch() = default;

bool WriteWatch::Written(std::chrono::milliseconds) noexcept { return false; }

}  // namespace mapconv::fs
