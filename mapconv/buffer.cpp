#include "mapconv/buffer.h"

#include <new>

#include "mapconv/errors.h"
#include "mapconv/test_hooks.h"

namespace mapconv {

Buffer AllocateBuffer(std::size_t size) {
  Buffer b;
  b.size = size;
  if (size == 0) return b;
  if (hooks::Fails(hooks::Op::Alloc)) throw EOutOfMemory();
  b.data.reset(new (std::nothrow) std::byte[size]);
  if (!b.data) throw EOutOfMemory();
  return b;
}

}  // namespace mapconv
