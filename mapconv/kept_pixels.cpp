#include "mapconv/kept_pixels.h"

#include <algorithm>
#include <cstring>

#include "mapconv/sub_byte_pixels.h"

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

// count output bytes made by make(dst, n) in runs of n as the buffer has room.
template <class Make>
void KeptPixels::PutBytes(std::size_t count, Make make) {
  written_ += static_cast<std::int64_t>(count);
  while (count > 0) {
    const std::size_t n = std::min(count, Room());
    make(reinterpret_cast<unsigned char*>(buffer_.data() + used_), n);
    used_ += n;
    count -= n;
  }
}

KeptPixels::KeptPixels(ByteSink& sink, std::span<std::byte> buffer, int bitCount, std::int64_t outWidth,
                       std::int64_t outStride)
    : sink_(sink), buffer_(buffer), bits_(bitCount), outWidth_(outWidth), outStride_(outStride),
      wanted_(outWidth) {}

void KeptPixels::PutIndices(std::span<const std::byte> piece) {
  const auto take = static_cast<std::size_t>(
      std::min<std::int64_t>(wanted_, static_cast<std::int64_t>((piece.size() + 1) / 2)));
  const auto* src = reinterpret_cast<const unsigned char*>(piece.data());
  std::size_t done = 0;
  if (bits_ == 8) {
    PutEvenBytes(piece.data(), take);
    done = take;
  } else if (bits_ == 4) {
    if (partialBits_ == 4 && take > 0) PutBits(src[done++], 4);
    const std::size_t pairs = (take - done) / 2;
    PutBytes(pairs, [&](unsigned char* dst, std::size_t n) {
      PackKeptIndices(src + 2 * done, dst, n);
      done += 2 * n;
    });
  }
  for (; done < take; ++done) PutBits(src[2 * done], bits_);
  wanted_ -= static_cast<std::int64_t>(take);
}

// Every stored byte gives a nibble of kept pixels; the last one is cut to
// the pixels the row still wants.
void KeptPixels::PutPacked(std::span<const std::byte> piece) {
  if (bits_ > 8) return PutWide(piece);
  if (bits_ == 8) return PutIndices(piece);
  const auto perByte = static_cast<std::size_t>(4 / bits_);
  const auto take = static_cast<std::size_t>(
      std::min<std::int64_t>(wanted_, static_cast<std::int64_t>(piece.size() * perByte)));
  const auto* src = reinterpret_cast<const unsigned char*>(piece.data());
  std::size_t nibbles = take / perByte;
  if (partialBits_ == 4 && nibbles > 0) {
    PutBits(KeptNibble(bits_, *src++), 4);
    --nibbles;
  }
  PutBytes(nibbles / 2, [&](unsigned char* dst, std::size_t n) {
    PackKeptNibbles(bits_, src, dst, n);
    src += 2 * n;
  });
  if (nibbles % 2 == 1) PutBits(KeptNibble(bits_, *src++), 4);
  const auto rest = static_cast<int>(take % perByte) * bits_;
  if (rest > 0) PutBits(KeptNibble(bits_, *src) >> (4 - rest), rest);
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
  while (partialBits_ > 0) PutBits(0, bits_);  // unused bits of the last byte
  PutZeros(static_cast<std::size_t>(outStride_ - written_));
  written_ = 0;
  wanted_ = outWidth_;
}

void KeptPixels::Flush() {
  if (used_ == 0) return;
  sink_.Write(buffer_.first(used_));
  used_ = 0;
}

// Whole bytes of a row packed below 8 bits; partial_ holds whatever of a
// byte is not yet complete.
void KeptPixels::PutBits(unsigned value, int count) {
  partial_ = partial_ << count | value;
  partialBits_ += count;
  if (partialBits_ < 8) return;
  Room();
  buffer_[used_++] = static_cast<std::byte>(partial_);
  ++written_;
  partial_ = 0;
  partialBits_ = 0;
}

void KeptPixels::PutEvenBytes(const std::byte* src, std::size_t count) {
  PutBytes(count, [&](unsigned char* dst, std::size_t n) {
    GatherEven(reinterpret_cast<const unsigned char*>(src), dst, n);
    src += 2 * n;
  });
}

void KeptPixels::PutZeros(std::size_t count) {
  PutBytes(count, [](unsigned char* dst, std::size_t n) { std::memset(dst, 0, n); });
}

// Free space, writing out what is held when there is none.
std::size_t KeptPixels::Room() {
  if (used_ == buffer_.size()) Flush();
  return buffer_.size() - used_;
}

}  // namespace mapconv
