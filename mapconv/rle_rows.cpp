#include "mapconv/rle_rows.h"

#include <algorithm>
#include <cstring>

#include "mapconv/errors.h"

namespace mapconv {
namespace {

// Second bytes of the escape codes that follow a zero count.
constexpr unsigned kEndOfLine = 0;
constexpr unsigned kEndOfBitmap = 1;
constexpr unsigned kDelta = 2;

[[noreturn]] void Refuse() { throw EFormatError("the run-length stream breaks its format"); }

}  // namespace

RleRows::RleRows(ByteSource& source, const BmpLayout& layout, std::span<std::byte> readBuffer,
                 std::span<std::byte> pieces)
    : source_(source), buffer_(readBuffer), position_(layout.pixelOffset), end_(layout.fileSize),
      width_(layout.width), rows_(layout.height), nibbles_(layout.compression == Compression::Rle4),
      pieces_(pieces.first(pieces.size() - kSlack)) {}

void RleRows::NextRow(const Emit* emit) {
  emit_ = emit;
  column_ = 0;
  if (!ended_ && cursorRow_ == row_) DecodeRow();
  FillTo(width_);
  if (filled_ > 0) Deliver();
  ++row_;
}

void RleRows::Finish() {
  if (ended_) return;
  const unsigned count = Next();
  if (count != 0 || Next() != kEndOfBitmap) Refuse();  // pixels past the last row
}

// Runs until the code that ends this row: end of line, end of bitmap, or a
// delta that moves down.
void RleRows::DecodeRow() {
  std::int64_t column = cursorColumn_;
  for (;;) {
    FillTo(column);
    if (!nibbles_) column = Runs8(column);
    const unsigned count = Next();
    const unsigned code = Next();
    if (count > 0 || code > kDelta) {
      const unsigned pixels = count > 0 ? count : code;
      if (column + pixels > width_) Refuse();
      if (count == 0) {
        Literal(pixels);
      } else if (nibbles_) {
        FillPairs(code, pixels);
      } else {
        Fill(static_cast<std::byte>(code), pixels);
      }
      column += pixels;
      continue;
    }
    if (code == kEndOfLine) {
      ++cursorRow_;
      cursorColumn_ = 0;
      return;
    }
    if (code == kEndOfBitmap) {
      ended_ = true;
      return;
    }
    const unsigned right = Next();
    const unsigned down = Next();
    column += right;
    if (column > width_) Refuse();
    if (down == 0) continue;
    cursorRow_ += down;
    cursorColumn_ = column;
    if (cursorRow_ >= rows_) Refuse();
    return;
  }
}

// The codes that make up most of an RLE8 stream, runs, in a tight loop over
// the bytes already read. Stops at any other code, at a run that would
// break the row, and where the stream or the pieces need more room; the
// loop in DecodeRow takes over from there.
std::int64_t RleRows::Runs8(std::int64_t column) {
  const auto* in = reinterpret_cast<const unsigned char*>(read_.data());
  std::size_t at = at_;
  const std::size_t held = held_;
  if (emit_ == nullptr) {
    while (held - at >= 2 && in[at] > 0 && column + in[at] <= width_) {
      column += in[at];
      at += 2;
    }
  } else {
    auto* out = reinterpret_cast<unsigned char*>(pieces_.data());
    std::size_t filled = filled_;
    while (held - at >= 2 && in[at] > 0 && column + in[at] <= width_ && filled + in[at] <= pieces_.size()) {
      const unsigned count = in[at];
      // Eight at a time; the slack past the pieces takes what overshoots.
      const std::uint64_t word = 0x0101010101010101ull * in[at + 1];
      for (unsigned i = 0; i < count; i += sizeof word) std::memcpy(out + filled + i, &word, sizeof word);
      filled += count;
      column += count;
      at += 2;
    }
    filled_ = filled;
  }
  at_ = at;
  column_ = column;
  return column;
}

// Pixels stored as they are, padded to a 16-bit boundary in the stream.
void RleRows::Literal(unsigned count) {
  const unsigned bytes = nibbles_ ? (count + 1) / 2 : count;
  if (!nibbles_) {
    CopyStream(count);
  } else {
    for (unsigned i = 0; i < bytes; ++i) FillPairs(Next(), std::min(2u, count - 2 * i));
  }
  if (bytes % 2 == 1) Next();
}

// count RLE8 pixels straight from the stream, a piece at a time.
void RleRows::CopyStream(std::int64_t count) {
  column_ += count;
  while (count > 0) {
    if (at_ == held_) Refill();
    auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(held_ - at_)));
    if (emit_ != nullptr) {
      if (filled_ == pieces_.size()) Deliver();
      n = std::min(n, pieces_.size() - filled_);
      std::memcpy(pieces_.data() + filled_, read_.data() + at_, n);
      filled_ += n;
    }
    at_ += n;
    count -= static_cast<std::int64_t>(n);
  }
}

// count pixels alternating between the high and the low nibble of pair.
void RleRows::FillPairs(unsigned pair, std::int64_t count) {
  const auto high = static_cast<std::byte>(pair >> 4);
  const auto low = static_cast<std::byte>(pair & 0x0F);
  if (high == low) return Fill(high, count);
  for (std::int64_t i = 0; i < count; ++i) Fill(i % 2 == 0 ? high : low, 1);
}

void RleRows::Fill(std::byte value, std::int64_t count) {
  column_ += count;
  if (emit_ == nullptr) return;
  // Runs are short: eight at a time into the slack past the pieces beats a
  // call to memset.
  const std::uint64_t word = 0x0101010101010101ull * std::to_integer<std::uint64_t>(value);
  while (count > 0) {
    if (filled_ == pieces_.size()) Deliver();
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(count, static_cast<std::int64_t>(pieces_.size() - filled_)));
    for (std::size_t i = 0; i < n; i += sizeof word) std::memcpy(pieces_.data() + filled_ + i, &word, sizeof word);
    filled_ += n;
    count -= static_cast<std::int64_t>(n);
  }
}

// Pixels passed over up to this column take index 0.
void RleRows::FillTo(std::int64_t column) {
  if (column > column_) Fill(std::byte{0}, column - column_);
}

void RleRows::Deliver() {
  if (emit_ != nullptr) (*emit_)(pieces_.first(filled_));
  filled_ = 0;
}

unsigned RleRows::Next() {
  if (at_ == held_) Refill();
  return std::to_integer<unsigned>(read_[at_++]);
}

// The stream is read forward in pieces; past the file's end it is cut.
void RleRows::Refill() {
  const std::int64_t left = end_ - position_;
  if (left <= 0) throw EShortRead();
  held_ = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer_.size())));
  read_ = source_.View(position_, buffer_.first(held_));
  position_ += static_cast<std::int64_t>(held_);
  at_ = 0;
}

}  // namespace mapconv
