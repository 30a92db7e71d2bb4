#include "mapconv/kept_pixels.h"

#include <algorithm>
#include <cstring>

namespace mapconv {
namespace {

// Copies every second byte; a plain indexed loop the compiler vectorises.
void GatherEven(const unsigned char* __restrict src, unsigned char* __restrict dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dst[i] = src[2 * i];
}

// Copies every second pixel of size bytes whole; a fixed size lets the
// compiler move each as one piece.
template <std::size_t size>
void GatherEvenPixels(const std::byte* __restrict src, std::byte* __restrict dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) std::memcpy(dst + size * i, src + 2 * size * i, size);
}

void GatherEvenPixels(const std::byte* src, std::byte* dst, std::size_t count, std::size_t size) {
  switch (size) {
    case 2: return GatherEvenPixels<2>(src, dst, count);
    case 3: return GatherEvenPixels<3>(src, dst, count);
    case 4: return GatherEvenPixels<4>(src, dst, count);
    default: return GatherEvenPixels<8>(src, dst, count);
  }
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
  if (bits_ > 8) return PutWide(piece);
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

// Pixels of 2, 3, 4 or 8 bytes, copied byte for byte. The buffer need not
// hold whole pixels: one that crosses its end goes a byte at a time.
void KeptPixels::PutWide(std::span<const std::byte> piece) {
  const auto size = static_cast<std::size_t>(bits_ / 8);
  const auto take = static_cast<std::size_t>(
      std::min<std::int64_t>(wanted_, static_cast<std::int64_t>((piece.size() / size + 1) / 2)));
  const std::byte* src = piece.data();
  for (std::size_t left = take; left > 0;) {
    const std::size_t n = std::min(left, Room() / size);
    if (n == 0) {
      for (std::size_t i = 0; i < size; ++i) {
        Room();
        buffer_[used_++] = src[i];
      }
      written_ += static_cast<std::int64_t>(size);
      src += 2 * size;
      --left;
      continue;
    }
    GatherEvenPixels(src, buffer_.data() + used_, n, size);
    used_ += n * size;
    written_ += static_cast<std::int64_t>(n * size);
    src += 2 * n * size;
    left -= n;
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
