// Picking the kept pixels of an input row (its even columns) and packing
// them into output rows at the input's depth, 1, 2, 4 or 8 bits, or copying
// them whole at 16, 24, 32 or 64 bits, written to the sink in large pieces.
// Rows arrive in pieces so no buffer grows with the map; each piece starts
// at an even column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "mapconv/byte_io.h"

namespace mapconv {

class KeptPixels {
 public:
  // buffer (the caller owns it) collects output bytes between writes.
  KeptPixels(ByteSink& sink, std::span<std::byte> buffer, int bitCount, std::int64_t outWidth,
             std::int64_t outStride);

  // A piece of a row stored at the depth, as uncompressed rows are.
  void PutPacked(std::span<const std::byte> piece);
  // A piece of a row with one colour index per byte, as decoded runs are.
  void PutIndices(std::span<const std::byte> piece);
  // Ends the output row: unused bits zero, then zero bytes to its stride.
  void EndRow();
  // Writes out what is held.
  void Flush();

 private:
  void PutWide(std::span<const std::byte> piece);
  void PutBits(unsigned value, int count);
  template <class Make>
  void PutBytes(std::size_t count, Make make);
  void PutEvenBytes(const std::byte* src, std::size_t count);
  void PutZeros(std::size_t count);
  std::size_t Room();

  ByteSink& sink_;
  std::span<std::byte> buffer_;
  std::size_t used_ = 0;
  const int bits_;
  const std::int64_t outWidth_;
  const std::int64_t outStride_;
  std::int64_t wanted_;   // kept pixels still missing from this row
  std::int64_t written_ = 0;  // bytes of this row already out
  unsigned partial_ = 0;  // pixels of a byte not yet complete
  int partialBits_ = 0;
};

}  // namespace mapconv
