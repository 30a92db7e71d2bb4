// Reads a file in large sequential blocks and serves the conversion's small
// reads from memory. Reading row by row costs one request per row: that
// defeats the system's readahead on a cold disk, and under Wine every read
// is a trip to its server. One read per block pays that cost once a block.
// Works under any reader of ByteSource that moves forward through the file
// (a read outside the block fills the block again from there); the file
// stays the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "mapconv/buffer.h"
#include "mapconv/file_services.h"
#include "mapconv/byte_io.h"

namespace mapconv {

// Many rows of any ordinary map, while memory stays small and fixed.
inline constexpr std::size_t kReadBlockSize = std::size_t{1} << 20;

class BlockSource final : public ByteSource {
 public:
  // file must outlive the source. Raises EOutOfMemory when the block cannot
  // be had.
  explicit BlockSource(const fs::File& file, std::size_t blockSize = kReadBlockSize);

  // Exactly as a read of the file itself: delivers buffer.size() bytes or
  // raises EShortRead. Reading ahead past the end of the file is no failure;
  // only asking for bytes the file does not have is.
  void ReadAt(std::int64_t offset, std::span<std::byte> buffer) override;
  // The bytes straight from the block where it holds them.
  std::span<const std::byte> View(std::int64_t offset, std::span<std::byte> buffer) override;
  std::int64_t Size() override { return fs::Size(file_); }

 private:
  bool Holds(std::int64_t offset, std::size_t size) const;
  void Fill(std::int64_t offset);

  const fs::File& file_;
  Buffer block_;
  std::int64_t start_ = 0;  // where in the file the block's first byte came from
  std::size_t held_ = 0;    // how many of the file's bytes the block holds
};

}  // namespace mapconv
