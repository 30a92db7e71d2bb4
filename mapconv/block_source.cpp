#include "mapconv/block_source.h"

#include <cstring>

#include "mapconv/errors.h"

namespace mapconv {

BlockSource::BlockSource(const fs::File& file, std::size_t blockSize)
    : file_(file), block_(AllocateBuffer(blockSize)) {}

void BlockSource::ReadAt(std::int64_t offset, std::span<std::byte> buffer) {
  const std::span<const std::byte> bytes = View(offset, buffer);
  if (bytes.data() != buffer.data() && !bytes.empty()) std::memcpy(buffer.data(), bytes.data(), bytes.size());
}

std::span<const std::byte> BlockSource::View(std::int64_t offset, std::span<std::byte> buffer) {
  if (buffer.size() > block_.size) {
    // Larger than a block: straight into the caller's buffer, still one read.
    if (fs::ReadUpTo(file_, offset, buffer) != buffer.size()) throw EShortRead();
    return buffer;
  }
  if (!Holds(offset, buffer.size())) Fill(offset);
  if (!Holds(offset, buffer.size())) throw EShortRead();
  return {block_.data.get() + (offset - start_), buffer.size()};
}

bool BlockSource::Holds(std::int64_t offset, std::size_t size) const {
  const std::int64_t at = offset - start_;
  const auto held = static_cast<std::int64_t>(held_);
  return at >= 0 && at <= held && held - at >= static_cast<std::int64_t>(size);
}

void BlockSource::Fill(std::int64_t offset) {
  held_ = 0;  // nothing stale is served if the read fails
  start_ = offset;
  held_ = fs::ReadUpTo(file_, offset, block_.span());
}

}  // namespace mapconv
