// The core's working memory: a byte buffer taken once per conversion and
// released when it goes away. Failing to get it is EOutOfMemory, never a
// crash, and the test hooks can make it fail.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

namespace mapconv {

struct Buffer {
  std::unique_ptr<std::byte[]> data;
  std::size_t size = 0;
  std::span<std::byte> span() const { return {data.get(), size}; }
};

// A request for no bytes yields no buffer and is no failure.
Buffer AllocateBuffer(std::size_t size);

}  // namespace mapconv
