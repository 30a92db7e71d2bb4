// Reading a bitmap's headers, whatever their version, into one small
// description that the rest of the conversion works from, and writing the
// output's headers from the input's. Every refusal is decided here, before
// a byte of output is written, and says why (EFormatError::reason).
//
// Read: the OS/2 1.x header (12 bytes, 16-bit sizes, 3-byte palette
// entries), OS/2 2.x headers (16 to 64 bytes but 40, 52 and 56), the Windows
// info header (40, bit masks after it), with bit masks (52, 56), V4 (108)
// and V5 (124). 1, 2, 4 and 8 bits per pixel with a palette: uncompressed,
// RLE8 at 8 bits and RLE4 at 4 bits. 16, 24, 32 and 64 bits: uncompressed,
// bit fields (3) or alpha bit fields (6), whatever the masks. Not read:
// JPEG or PNG inside, OS/2 Huffman 1D and RLE24, CMYK.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "mapconv/byte_io.h"

namespace mapconv {

// BitFields: rows stored as for None, their colours told by masks the
// conversion carries over without reading.
enum class Compression : std::uint8_t { None, Rle8, Rle4, BitFields };

struct BmpLayout {
  std::int64_t fileSize = 0;
  std::int64_t infoSize = 0;     // 12, 16 to 64, 108 or 124
  std::int64_t width = 0;        // at least 1
  std::int64_t height = 0;       // negative: rows stored top-down
  int bitCount = 8;              // 1, 2, 4, 8, 16, 24, 32 or 64
  Compression compression = Compression::None;
  std::int64_t maskBytes = 0;    // bit masks after a 40-byte header: 12, or 16 with alpha
  bool RunLength() const { return compression == Compression::Rle8 || compression == Compression::Rle4; }
  std::int64_t pixelOffset = 0;  // everything before it is carried over
  std::int64_t profileOffset = 0;  // a V5 colour profile, from file start
  std::int64_t profileSize = 0;    // 0 when there is none to carry
  // The one layout the tool was first made for (40-byte header, 8 bits,
  // uncompressed, pixels at 1078): its outputs keep the input's image-size
  // field, as they always have.
  bool keepsImageSize = false;
};

// Sizes of the output, all derived from the layout in 64 bits.
struct OutputShape {
  std::int64_t width = 0;       // W div 2
  std::int64_t height = 0;      // H div 2, truncated toward zero
  std::int64_t rows = 0;        // |H|, input rows
  std::int64_t inStride = 0;    // bytes of an uncompressed input row
  std::int64_t outRows = 0;     // |height|
  std::int64_t outStride = 0;   // bytes of an output row, a multiple of 4
  std::int64_t pixelBytes = 0;  // outStride * outRows
};

// The start of the file as read in one piece: the largest header and a full
// 256-entry palette, or the whole file when it is shorter.
struct FileHead {
  static constexpr std::size_t kCapacity = 14 + 124 + 256 * 4;
  std::array<std::byte, kCapacity> bytes{};
  std::size_t size = 0;
};

// Reads the head and describes the bitmap. Raises EFormatError, its reason
// in the user's words, for a layout that is not read or headers that
// contradict themselves or the file, and EShortRead when the headers, masks
// or palette they announce are cut off.
BmpLayout ReadLayout(ByteSource& source, FileHead& head);

OutputShape Measure(const BmpLayout& layout);

// Patches the head into the output's: sizes, run-length compression to
// none, image size and the profile's offset. Bytes past the pixel offset are left as they are.
void PatchHead(FileHead& head, const BmpLayout& layout, const OutputShape& shape);

}  // namespace mapconv
