// How much room an output needs: itself, and after it the smaller of 5% of
// the file system and 1 GiB still free. A small map that declares a huge
// size cannot fill a disk, and a nearly full large disk still takes
// ordinary maps. Every sum saturates: declared sizes may be anything.
#pragma once

#include <cstdint>

namespace mapconv {

// blocks × blockSize, or the largest int64 where that is more.
std::int64_t BytesOf(std::uint64_t blocks, std::uint64_t blockSize) noexcept;

// The free bytes an output of bytes needs on a file system of
// fileSystemSize bytes, or the largest int64 where that is more.
std::int64_t RoomNeeded(std::int64_t bytes, std::int64_t fileSystemSize) noexcept;

}  // namespace mapconv
