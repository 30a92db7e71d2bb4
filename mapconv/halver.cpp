#include "mapconv/halver.h"

#include <algorithm>
#include <climits>

#include "mapconv/bmp_layout.h"
#include "mapconv/buffer.h"
#include "mapconv/kept_pixels.h"
#include "mapconv/rle_rows.h"

namespace mapconv {
namespace {

// Bounds the working buffers, so memory does not grow with the map.
constexpr std::int64_t kChunk = std::int64_t{1} << 20;
// Decoded run-length pixels handed over at once.
constexpr std::int64_t kPieces = std::int64_t{1} << 16;

// At most most bytes, whatever the map asks for; none for a request of none.
Buffer Allocate(std::int64_t wanted, std::int64_t most = kChunk) {
  return AllocateBuffer(static_cast<std::size_t>(std::clamp<std::int64_t>(wanted, 0, most)));
}

// Carries bytes from..to of the input over unchanged, reading forward.
void CopyRange(ByteSource& source, std::int64_t from, std::int64_t to, std::span<std::byte> chunk,
               ByteSink& sink) {
  while (from < to) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(to - from, static_cast<std::int64_t>(chunk.size())));
    source.ReadAt(from, chunk.first(n));
    sink.Write(chunk.first(n));
    from += static_cast<std::int64_t>(n);
  }
}

// Reads one whole stored row in chunks, so a row cut short anywhere, filler
// included, fails as a short read, and keeps its even columns. A row longer
// than the chunk goes in pieces of whole pixel pairs, so each piece starts at
// an even column.
void CopyRow(ByteSource& source, std::int64_t offset, std::int64_t length, std::span<std::byte> chunk,
             std::size_t pairBytes, KeptPixels& out) {
  const auto room = static_cast<std::int64_t>(chunk.size());
  const std::int64_t piece = length <= room ? length : room - room % static_cast<std::int64_t>(pairBytes);
  while (length > 0) {
    const auto n = static_cast<std::size_t>(std::min(length, piece));
    out.PutPacked(source.View(offset, chunk.first(n)));
    offset += static_cast<std::int64_t>(n);
    length -= static_cast<std::int64_t>(n);
  }
  out.EndRow();
}

// One step per input row and full when the last row is done; never a range
// the bar would refuse, whatever the height.
int ProgressMax(const OutputShape& s) { return static_cast<int>(std::clamp<std::int64_t>(s.rows, 1, INT_MAX)); }

// Calls step for every input row in file order, after the check and the
// bar's move that each row gets.
template <class Step>
void ForEachRow(const OutputShape& s, ProgressBar& bar, const std::function<void()>& check, Step step) {
  const int max = ProgressMax(s);
  for (std::int64_t r = 0; r < s.rows; ++r) {
    check();
    bar.SetPosition(static_cast<int>(std::min<std::int64_t>(r, max)));
    step(r);
  }
}

// Odd rows kept, the rows between passed over without reading.
void HalveStoredRows(ByteSource& source, const BmpLayout& layout, const OutputShape& s, std::span<std::byte> chunk,
                     KeptPixels& out, ProgressBar& bar, const std::function<void()>& check) {
  // Two pixels: a byte or less below 8 bits, which a chunk's size divides.
  const auto pairBytes = static_cast<std::size_t>(std::max(1, layout.bitCount / 4));
  ForEachRow(s, bar, check, [&](std::int64_t r) {
    if (r % 2 == 1) CopyRow(source, layout.pixelOffset + r * s.inStride, s.inStride, chunk, pairBytes, out);
  });
}

// Every row decoded, as the stream runs on; odd rows kept.
void HalveRleRows(ByteSource& source, const BmpLayout& layout, const OutputShape& s, std::span<std::byte> chunk,
                  KeptPixels& out, ProgressBar& bar, const std::function<void()>& check) {
  const auto slack = static_cast<std::int64_t>(RleRows::kSlack);
  const Buffer pieces = Allocate((layout.width + 1) / 2 * 2 + slack, kPieces + slack);
  RleRows rows(source, layout, chunk, pieces.span());
  const RleRows::Emit keep = [&](std::span<const std::byte> piece) { out.PutIndices(piece); };
  ForEachRow(s, bar, check, [&](std::int64_t r) {
    rows.NextRow(r % 2 == 1 ? &keep : nullptr);
    if (r % 2 == 1) out.EndRow();
  });
  rows.Finish();
}

}  // namespace

MapSize Halve(ByteSource& source, ByteSink& sink, ProgressBar& bar, const std::function<void()>& check) {
  check();
  FileHead head;
  const BmpLayout layout = ReadLayout(source, head);
  const OutputShape shape = Measure(layout);
  PatchHead(head, layout, shape);
  // Headers, palette and whatever lies before the pixels keep their offsets.
  const auto carried = std::min<std::int64_t>(static_cast<std::int64_t>(head.size), layout.pixelOffset);
  const bool stored = !layout.RunLength();
  // A cut file fails as a short read where it ends, having written at most
  // what it holds; only a whole one, or a run-length stream that may say
  // much in few bytes, is held against the free space.
  if (!stored || shape.rows <= (layout.fileSize - layout.pixelOffset) / std::max<std::int64_t>(shape.inStride, 1)) {
    sink.Reserve(layout.pixelOffset + shape.pixelBytes + layout.profileSize);
  }
  sink.Write(std::span(head.bytes).first(static_cast<std::size_t>(carried)));

  const int max = ProgressMax(shape);
  bar.SetMin(0);
  bar.SetMax(max);

  const Buffer chunk = Allocate(std::max({stored ? shape.inStride : layout.fileSize - layout.pixelOffset,
                                          layout.pixelOffset - carried, layout.profileSize}));
  CopyRange(source, carried, layout.pixelOffset, chunk.span(), sink);
  const Buffer pending = Allocate(shape.pixelBytes);
  KeptPixels out(sink, pending.span(), layout.bitCount, shape.width, shape.outStride);
  if (stored) {
    HalveStoredRows(source, layout, shape, chunk.span(), out, bar, check);
  } else {
    HalveRleRows(source, layout, shape, chunk.span(), out, bar, check);
  }
  out.Flush();
  // A V5 colour profile follows the pixels, as it did in the input.
  CopyRange(source, layout.profileOffset, layout.profileOffset + layout.profileSize, chunk.span(), sink);
  bar.SetPosition(max);
  return {layout.width, shape.rows};
}

}  // namespace mapconv
