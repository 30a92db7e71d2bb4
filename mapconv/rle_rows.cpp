#include "mapconv/rle_rows.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "mapconv/errors.h"
#include "mapconv/force_break.h"

namespace mapconv {
namespace {

// Second bytes of the escape codes that follow a zero count.
constexpr unsigned kEndOfLine = 0;
constexpr unsigned kEndOfBitmap = 1;
constexpr unsigned kDelta = 2;

// The eight pixels of an RLE4 run's pair, high nibble first, as one word.
std::uint64_t PairWord(unsigned pair) {
  const std::uint64_t first = pair >> 4;
  const std::uint64_t second = pair & 0x0F;
  const std::uint64_t two = std::endian::native == std::endian::little ? first | second << 8 : first << 8 | second;
  return 0x0001000100010001ull * two;
}

// count pixels of word, eight at a time; the slack past the pieces takes
// what overshoots. Most runs are short: two words cover them with no loop.
void FillWords(unsigned char* out, unsigned count, std::uint64_t word) {
  std::memcpy(out, &word, sizeof word);
  std::memcpy(out + sizeof word, &word, sizeof word);
  for (unsigned i = 2 * sizeof word; i < count; i += sizeof word) std::memcpy(out + i, &word, sizeof word);
}

// An RLE4 literal's bytes, two pixels each; an odd count's last one spills
// one pixel into what follows, which the next pixels overwrite.
void Unpack(const unsigned char* in, unsigned char* out, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i) {
    out[2 * i] = static_cast<unsigned char>(in[i] >> 4);
    out[2 * i + 1] = static_cast<unsigned char>(in[i] & 0x0F);
  }
}

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
  if (ended_ || AtEnd()) return;  // every row filled: the end code may be left out
  const unsigned count = Next();
  if (count != 0 || Next() != kEndOfBitmap) throw EFormatError("the run-length stream goes on past the last row");
}

// Runs until the code that ends this row: end of line, end of bitmap, a
// delta that moves down, or the stream's end once the last row is full.
void RleRows::DecodeRow() {
  std::int64_t column = cursorColumn_;
  for (;;) {
    FillTo(column);
    column = Codes(column);
    if (cursorRow_ == rows_ - 1 && column == width_ && AtEnd()) {
      ended_ = true;
      return;
    }
    const unsigned count = Next();
    const unsigned code = Next();
    if (count > 0 || code > kDelta) {
      // Writers that encode rows over their padded width run past the row's
      // end; those pixels are dropped, as common readers drop them.
      const unsigned pixels = count > 0 ? count : code;
      const auto kept = static_cast<unsigned>(std::min<std::int64_t>(pixels, width_ - column));
      if (count == 0) {
        Literal(pixels, kept);
      } else if (nibbles_) {
        FillPairs(code, kept);
      } else {
        Fill(static_cast<std::byte>(code), kept);
      }
      column += kept;
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
    if (cursorRow_ + down >= rows_) {  // below the last row: the pixels end there
      ended_ = true;
      return;
    }
    column += right;
    if (column > width_) throw EFormatError("the run-length stream moves past the end of a row");
    if (down == 0) continue;
    cursorRow_ += down;
    cursorColumn_ = column;
    return;
  }
}

// The codes that make up most of a stream, runs and literals, in a tight
// loop over the bytes already read. Stops at any other code, at one that
// would pass the row's end, and where the stream or the pieces need more
// room; the loop in DecodeRow takes over from there.
std::int64_t RleRows::Codes(std::int64_t column) {
  if (emit_ == nullptr) return nibbles_ ? CodesAs<false, true>(column) : CodesAs<false, false>(column);
  return nibbles_ ? CodesAs<true, true>(column) : CodesAs<true, false>(column);
}

// Codes for pixels that are kept (Emit) or passed over, at 4 or 8 bits, so
// the loop tests neither.
template <bool Emit, bool Nibbles>
std::int64_t RleRows::CodesAs(std::int64_t column) {
  const auto* in = reinterpret_cast<const unsigned char*>(read_.data());
  std::size_t at = at_;
  const std::size_t held = held_;
  const std::int64_t width = width_;
  auto* out = reinterpret_cast<unsigned char*>(pieces_.data());
  std::size_t filled = filled_;
  const std::size_t room = pieces_.size();
  for (;;) {
    // Runs, most of every stream, in the tightest loop.
    while (held - at >= 2 && in[at] > 0 && column + in[at] <= width && (!Emit || filled + in[at] <= room)) {
      const unsigned count = in[at];
      if constexpr (Emit) {
        const unsigned code = in[at + 1];
        FillWords(out + filled, count, Nibbles ? PairWord(code) : 0x0101010101010101ull * code);
        filled += count;
      }
      column += count;
      at += 2;
    }
    // Then a literal, or whatever DecodeRow handles.
    if (held - at < 2 || in[at] != 0 || in[at + 1] <= kDelta) break;
    const unsigned pixels = in[at + 1];
    const unsigned bytes = Nibbles ? (pixels + 1) / 2 : pixels;
    const std::size_t length = 2 + bytes + bytes % 2;
    if (held - at < length || column + pixels > width || (Emit && filled + pixels > room)) break;
    if constexpr (Emit) {
      if constexpr (Nibbles) {
        Unpack(in + at + 2, out + filled, bytes);
      } else {
        std::memcpy(out + filled, in + at + 2, pixels);
      }
      filled += pixels;
    }
    column += pixels;
    at += length;
  }
  filled_ = filled;
  at_ = at;
  column_ = column;
  return column;
}

// count pixels stored as they are, padded to a 16-bit boundary in the
// stream, of which the first kept reach the row.
void RleRows::Literal(unsigned count, unsigned kept) {
  const unsigned bytes = nibbles_ ? (count + 1) / 2 : count;
  unsigned read = 0;
  if (!nibbles_) {
    CopyStream(kept);
    read = kept;
  } else if (emit_ != nullptr) {
    for (; 2 * read < kept; ++read) FillPairs(Next(), std::min(2u, kept - 2 * read));
  } else {
    column_ += kept;
  }
  Skip(bytes + bytes % 2 - read);
}

// count RLE8 pixels straight from the stream, a piece at a time.
void RleRows::CopyStream(std::int64_t count) {
  column_ += count;
  if (emit_ == nullptr) return Skip(count);
  while (count > 0) {
    if (at_ == held_) Refill();
    if (filled_ == pieces_.size()) Deliver();
    const auto n = std::min({static_cast<std::size_t>(count), held_ - at_, pieces_.size() - filled_});
    std::memcpy(pieces_.data() + filled_, read_.data() + at_, n);
    filled_ += n;
    at_ += n;
    count -= static_cast<std::int64_t>(n);
  }
}

void RleRows::Skip(std::int64_t count) {
  while (count > 0) {
    if (at_ == held_) Refill();
    const auto n = std::min(static_cast<std::size_t>(count), held_ - at_);
    at_ += n;
    count -= static_cast<std::int64_t>(n);
  }
}

// count RLE4 pixels alternating between the high and the low nibble of pair.
void RleRows::FillPairs(unsigned pair, std::int64_t count) {
  Fill(static_cast<std::byte>(pair >> 4), static_cast<std::byte>(pair & 0x0F), count);
}

void RleRows::Fill(std::byte value, std::int64_t count) { Fill(value, value, count); }

// count pixels, first, second, first and so on.
void RleRows::Fill(std::byte first, std::byte second, std::int64_t count) {
  column_ += count;
  if (emit_ == nullptr) return;
  // Runs are short: eight at a time into the slack past the pieces beats a
  // call to memset.
  std::byte pattern[8 + 1];
  for (std::size_t i = 0; i < sizeof pattern; ++i) pattern[i] = i % 2 == 0 ? first : second;
  std::size_t phase = 0;  // 1 once a piece has ended between a first and a second
  while (count > 0) {
    if (filled_ == pieces_.size()) Deliver();
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(count, static_cast<std::int64_t>(pieces_.size() - filled_)));
    for (std::size_t i = 0; i < n; i += 8) std::memcpy(pieces_.data() + filled_ + i, pattern + phase, 8);
    filled_ += n;
    count -= static_cast<std::int64_t>(n);
    phase ^= n % 2;
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

bool RleRows::AtEnd() const { return at_ == held_ && position_ >= end_; }

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
