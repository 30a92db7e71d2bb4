#include "mapconv/kept_pixels.h"

#include <algorithm>
#include <cstring>

namespace mapconv {
namespace {

// Copies every second byte; a plain indexed loop the compiler vectorises.
void GatherEven(const unsigned char* __restrict src, unsigned char* __restrict dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dst[i] = src[2 * i];
}

}  // namespace

KeptPixels::KeptPixels(ByteSink& sink, std::span<std::byte> buffer, int bitCount, std::int64_t outWidth,
                       std::int64_t outStride)
    : sink_(sink), buffer_(buffer), bits_(bitCount), outWidth_(outWidth), outStride_(outStride),
      wanted_(outWidth) {}

void KeptPixels::PutIndices(std::span<const std::byte> piece) {
  const auto take = static_cast<std::size_t>(
      std::min<std::int64_t>(wanted_, static_cast<std::int64_t>((piece.size() + 1) / 2)));
  if (bits_ == 8) {
    PutEvenBytes(piece.data(), take);
  } else {
    for (std::size_t i = 0; i < take; ++i) PutIndex(std::to_integer<unsigned>(piece[2 * i]));
  }
  wanted_ -= static_cast<std::int64_t>(take);
}

void KeptPixels::PutPacked(std::span<const std::byte> piece) {
  if (bits_ == 8) return PutIndices(piece);
  const std::size_t perByte = 8 / static_cast<std::size_t>(bits_);
  const unsigned mask = (1u << bits_) - 1;
  const auto take = static_cast<std::size_t>(
      std::min<std::int64_t>(wanted_, static_cast<std::int64_t>(piece.size() * perByte / 2)));
  for (std::size_t k = 0; k < take; ++k) {
    const std::size_t column = 2 * k;
    const auto shift = static_cast<unsigned>(8 - bits_ * static_cast<int>(column % perByte + 1));
    PutIndex(std::to_integer<unsigned>(piece[column / perByte]) >> shift & mask);
  }
  wanted_ -= static_cast<std::int64_t>(take);
}

void KeptPixels::EndRow() {
  while (partialBits_ > 0) PutIndex(0);  // unused bits of the last byte
  PutZeros(static_cast<std::size_t>(outStride_ - written_));
  written_ = 0;
  wanted_ = outWidth_;
}

void KeptPixels::Flush() {
  if (used_ == 0) return;
  sink_.Write(buffer_.first(used_));
  used_ = 0;
}

void KeptPixels::PutIndex(unsigned index) {
  partial_ = partial_ << bits_ | index;
  partialBits_ += bits_;
  if (partialBits_ < 8) return;
  Room();
  buffer_[used_++] = static_cast<std::byte>(partial_);
  ++written_;
  partial_ = 0;
  partialBits_ = 0;
}

void KeptPixels::PutEvenBytes(const std::byte* src, std::size_t count) {
  written_ += static_cast<std::int64_t>(count);
  while (count > 0) {
    const std::size_t n = std::min(count, Room());
    GatherEven(reinterpret_cast<const unsigned char*>(src), reinterpret_cast<unsigned char*>(buffer_.data() + used_),
               n);
    used_ += n;
    src += 2 * n;
    count -= n;
  }
}

void KeptPixels::PutZeros(std::size_t count) {
  written_ += static_cast<std::int64_t>(count);
  while (count > 0) {
    const std::size_t n = std::min(count, Room());
    std::memset(buffer_.data() + used_, 0, n);
    used_ += n;
    count -= n;
  }
}

// Free space, writing out what is held when there is none.
std::size_t KeptPixels::Room() {
  if (used_ == buffer_.size()) Flush();
  return buffer_.size() - used_;
}

}  // namespace mapconv
