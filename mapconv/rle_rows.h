// Decoding run-length-encoded rows (RLE8 at 8 bits, RLE4 at 4 bits) one at
// a time, reading the stream forward in pieces, so memory does not grow with
// the map. Pixels that delta, end-of-line or end-of-bitmap codes pass over
// take index 0, and runs past a row's end are cut there, as common readers
// do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "mapconv/bmp_layout.h"
#include "mapconv/byte_io.h"

namespace mapconv {

class RleRows {
 public:
  // Receives a decoded row in pieces, one colour index per byte, in column
  // order; every piece but a row's last has an even length.
  using Emit = std::function<void(std::span<const std::byte>)>;

  // Bytes at the end of the pieces buffer that runs may write past a piece.
  static constexpr std::size_t kSlack = 16;

  // The stream runs from the layout's pixel offset to the end of the file.
  // Both buffers belong to the caller; pieces holds an even, non-zero
  // number of bytes and kSlack more.
  RleRows(ByteSource& source, const BmpLayout& layout, std::span<std::byte> readBuffer,
          std::span<std::byte> pieces);

  // Decodes the next row in file order, handing its pixels to emit when one
  // is given. Runs past the row's end are cut there; a move below the last
  // row ends the pixels, as end-of-bitmap does. Raises EFormatError for a
  // move past the row's end, and EShortRead when the stream ends before
  // every row is filled.
  void NextRow(const Emit* emit);

  // After the last row only end-of-bitmap, or the stream's end, may follow;
  // raises as NextRow.
  void Finish();

 private:
  void DecodeRow();
  std::int64_t Codes(std::int64_t column);
  template <bool Emit, bool Nibbles>
  std::int64_t CodesAs(std::int64_t column);
  void Literal(unsigned count, unsigned kept);
  void CopyStream(std::int64_t count);
  void Skip(std::int64_t count);
  void FillPairs(unsigned pair, std::int64_t count);
  void Fill(std::byte value, std::int64_t count);
  void Fill(std::byte first, std::byte second, std::int64_t count);
  void FillTo(std::int64_t column);
  void Deliver();
  bool AtEnd() const;
  unsigned Next();
  void Refill();

  ByteSource& source_;
  std::span<std::byte> buffer_;     // the caller's, for a source that lends no view
  std::span<const std::byte> read_;  // the stream's bytes at hand
  std::size_t held_ = 0;  // bytes of read_ filled from the stream
  std::size_t at_ = 0;    // next unread byte of read_
  std::int64_t position_;  // file offset just past what read_ holds
  const std::int64_t end_;
  const std::int64_t width_;
  const std::int64_t rows_;
  const bool nibbles_;     // RLE4: two pixels per byte

  std::span<std::byte> pieces_;
  std::size_t filled_ = 0;
  const Emit* emit_ = nullptr;
  std::int64_t row_ = 0;       // the row NextRow decodes next
  std::int64_t column_ = 0;    // pixels of that row produced so far
  std::int64_t cursorRow_ = 0;  // where the stream's next pixel goes
  std::int64_t cursorColumn_ = 0;
  bool ended_ = false;         // end-of-bitmap seen
};

}  // namespace mapconv
