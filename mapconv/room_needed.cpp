#include "mapconv/room_needed.h"

#include <algorithm>
#include <limits>

namespace mapconv {
namespace {

constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMostMargin = std::int64_t{1} << 30;

}  // namespace

std::int64_t BytesOf(std::uint64_t blocks, std::uint64_t blockSize) noexcept {
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(blocks, blockSize, &bytes) || bytes > static_cast<std::uint64_t>(kMost)) return kMost;
  return static_cast<std::int64_t>(bytes);
}

std::int64_t RoomNeeded(std::int64_t bytes, std::int64_t fileSystemSize) noexcept {
  const std::int64_t margin = std::min(std::max<std::int64_t>(fileSystemSize, 0) / 20, kMostMargin);
  std::int64_t needed = 0;
  if (__builtin_add_overflow(std::max<std::int64_t>(bytes, 0), margin, &needed)) return kMost;
  return needed;
}

}  // namespace mapconv
