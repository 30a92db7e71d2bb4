#include "mapconv/halver.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "mapconv/errors.h"
#include "mapconv/test_hooks.h"

namespace mapconv {
namespace {

// Bounds both working buffers, so memory does not grow with the map.
constexpr std::size_t kChunk = std::size_t{1} << 20;
static_assert(kChunk % 2 == 0, "chunks must keep even columns even");

constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kPixelOffsetOffset = 10;
constexpr std::size_t kWidthOffset = 18;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kBitCountOffset = 28;
constexpr std::size_t kCompressionOffset = 30;
static_assert(kCompressionOffset + 4 <= 14 + 40, "fields lie in the headers");

using Prefix = std::array<std::byte, kPrefixSize>;

std::uint32_t GetU32(const Prefix& p, std::size_t at) {
  return std::to_integer<std::uint32_t>(p[at]) |
         std::to_integer<std::uint32_t>(p[at + 1]) << 8 |
         std::to_integer<std::uint32_t>(p[at + 2]) << 16 |
         std::to_integer<std::uint32_t>(p[at + 3]) << 24;
}

std::uint16_t GetU16(const Prefix& p, std::size_t at) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[at]) |
                                    std::to_integer<unsigned>(p[at + 1]) << 8);
}

std::int32_t GetI32(const Prefix& p, std::size_t at) {
  return static_cast<std::int32_t>(GetU32(p, at));
}

void PutU32(Prefix& p, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    p[at + i] = static_cast<std::byte>(value >> (8 * i));
  }
}

// The tool reads one layout only; anything else would come out as garbage.
void CheckFormat(const Prefix& p) {
  const bool ok = p[kTypeOffset] == std::byte{'B'} &&
                  p[kTypeOffset + 1] == std::byte{'M'} &&
                  GetU16(p, kBitCountOffset) == 8 &&
                  GetU32(p, kCompressionOffset) == 0 &&
                  GetU32(p, kPixelOffsetOffset) == kPrefixSize &&
                  GetI32(p, kWidthOffset) > 0;
  if (!ok) throw EForceBreak("bitmap format error");
}

// Sizes derived from the header, all in 64 bits. A negative height is a
// top-down map: its rows are halved like any others and the sign is kept.
struct Geometry {
  std::int32_t outWidth;       // W div 2
  std::int32_t outHeight;      // H div 2, truncated toward zero
  std::int64_t rows;           // |H|
  std::int64_t inStride;       // W rounded up to a multiple of 4
  std::int64_t outPadding;     // zero bytes that end each output row
  std::int64_t outStride;      // outWidth + outPadding
  std::int64_t outRows;        // |outHeight|
  std::int64_t outPixelBytes;  // outStride * outRows
};

Geometry Measure(const Prefix& p) {
  const std::int64_t w = GetI32(p, kWidthOffset);
  const std::int64_t h = GetI32(p, kHeightOffset);
  Geometry g{};
  g.outWidth = static_cast<std::int32_t>(w / 2);
  g.outHeight = static_cast<std::int32_t>(h / 2);
  g.rows = h < 0 ? -h : h;
  g.inStride = (w + 3) / 4 * 4;
  g.outPadding = (4 - g.outWidth % 4) % 4;
  g.outStride = g.outWidth + g.outPadding;
  g.outRows = g.outHeight < 0 ? -std::int64_t{g.outHeight} : g.outHeight;
  g.outPixelBytes = g.outStride * g.outRows;
  return g;
}

void PatchHeader(Prefix& p, const Geometry& g) {
  // The size field holds the low 32 bits, as the format has no room for more.
  PutU32(p, kFileSizeOffset,
         static_cast<std::uint32_t>(kPrefixSize + g.outPixelBytes));
  PutU32(p, kWidthOffset, static_cast<std::uint32_t>(g.outWidth));
  PutU32(p, kHeightOffset, static_cast<std::uint32_t>(g.outHeight));
}

struct Buffer {
  std::unique_ptr<std::byte[]> data;
  std::size_t size = 0;
  std::span<std::byte> span() const { return {data.get(), size}; }
};

// A request for no bytes yields no buffer and is no failure.
Buffer Allocate(std::int64_t wanted) {
  Buffer b;
  b.size = static_cast<std::size_t>(
      std::clamp<std::int64_t>(wanted, 0, static_cast<std::int64_t>(kChunk)));
  if (b.size == 0) return b;
  if (hooks::Fails(hooks::Op::Alloc)) throw EOutOfMemory();
  b.data.reset(new (std::nothrow) std::byte[b.size]);
  if (!b.data) throw EOutOfMemory();
  return b;
}

// Copies every second byte; a plain indexed loop the compiler vectorises.
void GatherEven(const unsigned char* __restrict src,
                unsigned char* __restrict dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dst[i] = src[2 * i];
}

// Collects output rows and writes them in large pieces.
class RowWriter {
 public:
  RowWriter(ByteSink& sink, std::span<std::byte> buffer)
      : sink_(sink), buffer_(buffer) {}

  void PutEven(const std::byte* src, std::size_t count) {
    while (count > 0) {
      const std::size_t n = std::min(count, Room());
      GatherEven(reinterpret_cast<const unsigned char*>(src),
                 reinterpret_cast<unsigned char*>(buffer_.data() + used_), n);
      used_ += n;
      src += 2 * n;
      count -= n;
    }
  }

  void PutZeros(std::size_t count) {
    while (count > 0) {
      const std::size_t n = std::min(count, Room());
      std::memset(buffer_.data() + used_, 0, n);
      used_ += n;
      count -= n;
    }
  }

  void Flush() {
    if (used_ == 0) return;
    sink_.Write(buffer_.first(used_));
    used_ = 0;
  }

 private:
  // Free space, writing out what is held when there is none.
  std::size_t Room() {
    if (used_ == buffer_.size()) Flush();
    return buffer_.size() - used_;
  }

  ByteSink& sink_;
  std::span<std::byte> buffer_;
  std::size_t used_ = 0;
};

// Reads one whole input row in chunks, so a row cut short anywhere, filler
// included, fails as a short read, and keeps its even columns.
void CopyRow(ByteSource& source, std::int64_t rowStart, const Geometry& g,
             std::span<std::byte> chunk, RowWriter& out) {
  std::int64_t left = g.inStride;
  std::int64_t evensLeft = g.outWidth;
  std::int64_t offset = rowStart;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size())));
    source.ReadAt(offset, chunk.first(n));
    const auto take = static_cast<std::size_t>(
        std::min<std::int64_t>(evensLeft, static_cast<std::int64_t>((n + 1) / 2)));
    out.PutEven(chunk.data(), take);
    evensLeft -= static_cast<std::int64_t>(take);
    offset += static_cast<std::int64_t>(n);
    left -= static_cast<std::int64_t>(n);
  }
  out.PutZeros(static_cast<std::size_t>(g.outPadding));
}

// One step per input row and full when the last row is done; never a range
// the bar would refuse, whatever the height.
int ProgressMax(const Geometry& g) {
  return static_cast<int>(std::clamp<std::int64_t>(g.rows, 1, INT_MAX));
}

}  // namespace

void Halve(ByteSource& source, ByteSink& sink, ProgressBar& bar,
           const std::function<void()>& check) {
  check();
  Prefix prefix;
  source.ReadAt(0, prefix);
  CheckFormat(prefix);
  const Geometry g = Measure(prefix);
  PatchHeader(prefix, g);
  sink.Write(prefix);

  const int max = ProgressMax(g);
  bar.SetMin(0);
  bar.SetMax(max);

  const Buffer chunk = Allocate(g.inStride);
  const Buffer pending = Allocate(g.outPixelBytes);
  RowWriter out(sink, pending.span());
  for (std::int64_t r = 0; r < g.rows; ++r) {
    check();
    bar.SetPosition(static_cast<int>(std::min<std::int64_t>(r, max)));
    if (r % 2 == 1) CopyRow(source, kPrefixSize + r * g.inStride, g, chunk.span(), out);
  }
  out.Flush();
  bar.SetPosition(max);
}

}  // namespace mapconv
