// Notices writes to an open input while it is converted, which its size and
// times cannot always tell: a same-size rewrite within one tick of the
// system's file clock leaves them as they were. One implementation per
// platform; where the input is opened so that no writer can open it too
// (Windows), there is nothing to notice and the watch never fires.
#pragma once

#include <chrono>

#include "mapconv/file_services.h"

namespace mapconv::fs {

class WriteWatch {
 public:
  // Watches file from now on. Never fails: where the system will not watch
  // (no watches left), Written() is always false and the caller's stamp
  // check is all there is.
  explicit WriteWatch(const File& file) noexcept;
  WriteWatch(const WriteWatch&) = delete;
  WriteWatch& operator=(const WriteWatch&) = delete;
  ~WriteWatch();

  // True once anyone wrote to the file or cut it since the watch began,
  // waiting up to wait for such a write to come.
  bool Written(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) noexcept;

 private:
  File events_;
  bool written_ = false;
};

}  // namespace mapconv::fs
