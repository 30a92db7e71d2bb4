#include "mapconv/bmp_layout.h"

#include <algorithm>
#include <string>

#include "mapconv/errors.h"
#include "mapconv/force_break.h"

namespace mapconv {
namespace {

// File header fields.
constexpr std::size_t kType = 0;
constexpr std::size_t kFileSize = 2;
constexpr std::size_t kPixelOffset = 10;
constexpr std::size_t kInfo = 14;  // the info header starts with its size
// OS/2 1.x info header: 16-bit sizes.
constexpr std::size_t kOs2Width = 18;
constexpr std::size_t kOs2Height = 20;
constexpr std::size_t kOs2BitCount = 24;
// Every later info header.
constexpr std::size_t kWidth = 18;
constexpr std::size_t kHeight = 22;
constexpr std::size_t kBitCount = 28;
constexpr std::size_t kCompression = 30;
constexpr std::size_t kImageSize = 34;
constexpr std::size_t kColoursUsed = 46;
constexpr std::size_t kColourSpace = 70;
constexpr std::size_t kProfileData = 126;
constexpr std::size_t kProfileSize = 130;
static_assert(kProfileSize + 8 == kInfo + 124, "the V5 header ends with the profile and a reserved field");

constexpr std::int64_t kOs2v1 = 12;
constexpr std::int64_t kV5 = 124;
constexpr std::uint32_t kEmbedded = 0x4D424544;  // 'MBED'
constexpr std::uint32_t kLinked = 0x4C494E4B;    // 'LINK'

std::uint32_t U16(const FileHead& h, std::size_t at) {
  if (at + 2 > h.size) throw EShortRead();
  return std::to_integer<std::uint32_t>(h.bytes[at]) | std::to_integer<std::uint32_t>(h.bytes[at + 1]) << 8;
}

std::uint32_t U32(const FileHead& h, std::size_t at) { return U16(h, at) | U16(h, at + 2) << 16; }

std::int64_t I32(const FileHead& h, std::size_t at) { return static_cast<std::int32_t>(U32(h, at)); }

void PutU16(FileHead& h, std::size_t at, std::uint64_t value) {
  h.bytes[at] = static_cast<std::byte>(value);
  h.bytes[at + 1] = static_cast<std::byte>(value >> 8);
}

// The format has 32 bits for sizes; like every writer, keep the low ones.
void PutU32(FileHead& h, std::size_t at, std::uint64_t value) {
  PutU16(h, at, value);
  PutU16(h, at + 2, value >> 16);
}

[[noreturn]] void Refuse(const std::string& reason) { throw EFormatError(reason); }

std::string Bits(std::int64_t bitCount) { return std::to_string(bitCount) + " bits per pixel"; }

// Whether a 4-byte field lies inside this info header; shorter OS/2 2.x
// headers leave out the fields at their end, which then count as 0.
bool Has(const BmpLayout& l, std::size_t field) {
  return static_cast<std::int64_t>(field + 4) <= static_cast<std::int64_t>(kInfo) + l.infoSize;
}

bool KnownInfoSize(std::int64_t size) {
  return size == kOs2v1 || (size >= 16 && size <= 64) || size == 108 || size == kV5;
}

// OS/2 2.x headers are 16 to 64 bytes long, but 40, 52 and 56 are the
// Windows ones; the two number their compressions apart from 3 on.
bool Os2v2(std::int64_t size) { return size >= 16 && size <= 64 && size != 40 && size != 52 && size != 56; }

bool KnownDepth(int bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}

constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

Compression CompressionOf(std::uint32_t code, const BmpLayout& l) {
  if (code == 0) return Compression::None;
  if (code == 1 || code == 2) {
    const int depth = code == 1 ? 8 : 4;
    if (l.bitCount != depth) {
      Refuse((code == 1 ? "RLE8 compression at " : "RLE4 compression at ") + Bits(l.bitCount) + " is not read");
    }
    return code == 1 ? Compression::Rle8 : Compression::Rle4;
  }
  if (Os2v2(l.infoSize)) {
    if (code == 3) Refuse("OS/2 Huffman 1D compression is not read");
    if (code == 4) Refuse("OS/2 RLE24 compression is not read");
  } else {
    if (code == 4) Refuse("JPEG-compressed pixels are not read");
    if (code == 5) Refuse("PNG-compressed pixels are not read");
    if (code >= 11 && code <= 13) Refuse("CMYK bitmaps are not read");
    if (code == kBitFields || code == kAlphaBitFields) {
      if (l.bitCount <= 8) Refuse("bit fields at " + Bits(l.bitCount) + " are not read");
      return Compression::BitFields;
    }
  }
  Refuse("compression type " + std::to_string(code) + " is not read");
}

// Width, height, depth and compression, from whichever header this is.
void ReadImageFields(const FileHead& h, BmpLayout& l) {
  if (l.infoSize == kOs2v1) {
    l.width = U16(h, kOs2Width);
    l.height = U16(h, kOs2Height);
    l.bitCount = static_cast<int>(U16(h, kOs2BitCount));
  } else {
    l.width = I32(h, kWidth);
    l.height = I32(h, kHeight);
    l.bitCount = static_cast<int>(U16(h, kBitCount));
  }
  const std::uint32_t code = Has(l, kCompression) ? U32(h, kCompression) : 0;
  // JPEG and PNG inside give no depth; CompressionOf says what they are.
  const bool embedded = !Os2v2(l.infoSize) && (code == 4 || code == 5);
  if (!embedded && !KnownDepth(l.bitCount)) Refuse(Bits(l.bitCount) + " is not a bitmap depth");
  l.compression = CompressionOf(code, l);
  // Masks follow a 40-byte header; longer ones hold them.
  if (l.infoSize == 40 && l.compression == Compression::BitFields) l.maskBytes = code == kAlphaBitFields ? 16 : 12;
  if (l.width <= 0) Refuse("the width must be at least 1 pixel, not " + std::to_string(l.width));
  // Run-length rows are always stored bottom-up.
  if (l.RunLength() && l.height < 0) Refuse("run-length rows stored top-down are not read");
}

// End of the palette the headers announce. OS/2 1.x has no count: its
// palette is whatever full 3-byte entries fit before the pixels. A count
// past the depth's colours is carried over like any other; deeper maps
// have no palette unless a count gives them one.
std::int64_t PaletteEnd(const FileHead& h, const BmpLayout& l) {
  const std::int64_t most = l.bitCount <= 8 ? std::int64_t{1} << l.bitCount : 0;
  const std::int64_t start = static_cast<std::int64_t>(kInfo) + l.infoSize + l.maskBytes;
  if (l.pixelOffset < start) Refuse("the pixel data starts inside the headers");
  if (l.infoSize == kOs2v1) return start + 3 * std::min(most, (l.pixelOffset - start) / 3);
  const std::int64_t used = Has(l, kColoursUsed) ? U32(h, kColoursUsed) : 0;
  const std::int64_t entries = used == 0 ? most : used;
  if (start + 4 * entries > l.pixelOffset) {
    Refuse("the palette of " + std::to_string(entries) + " colours runs into the pixel data");
  }
  return start + 4 * entries;
}

// An embedded or linked V5 profile is carried over; it must lie in the file.
void ReadProfile(const FileHead& h, BmpLayout& l) {
  if (l.infoSize != kV5) return;
  const std::uint32_t space = U32(h, kColourSpace);
  if (space != kEmbedded && space != kLinked) return;
  l.profileSize = U32(h, kProfileSize);
  l.profileOffset = static_cast<std::int64_t>(kInfo) + U32(h, kProfileData);
  if (l.profileSize > 0 && l.profileOffset + l.profileSize > l.fileSize) {
    Refuse("the colour profile runs past the end of the file");
  }
}

}  // namespace

BmpLayout ReadLayout(ByteSource& source, FileHead& head) {
  BmpLayout l;
  l.fileSize = source.Size();
  head.size = static_cast<std::size_t>(
      std::clamp<std::int64_t>(l.fileSize, 0, static_cast<std::int64_t>(FileHead::kCapacity)));
  source.ReadAt(0, std::span(head.bytes).first(head.size));

  // Judged before any size is read, so a text or an empty file is not taken
  // for a bitmap cut short.
  if (head.size == 0) Refuse("not a bitmap: the file is empty");
  if (head.size < 2 || head.bytes[kType] != std::byte{'B'} || head.bytes[kType + 1] != std::byte{'M'}) {
    Refuse("not a bitmap: the file does not start with BM");
  }
  l.infoSize = U32(head, kInfo);
  if (!KnownInfoSize(l.infoSize)) Refuse("unknown header size: " + std::to_string(l.infoSize) + " bytes");
  if (kInfo + static_cast<std::size_t>(l.infoSize) > head.size) throw EShortRead();
  l.pixelOffset = U32(head, kPixelOffset);
  ReadImageFields(head, l);
  // A cut palette is a cut file; pixels said to start past the end are not.
  if (PaletteEnd(head, l) > l.fileSize) throw EShortRead();
  if (l.pixelOffset > l.fileSize) Refuse("the pixel data starts past the end of the file");
  ReadProfile(head, l);
  l.keepsImageSize = l.infoSize == 40 && l.bitCount == 8 && l.compression == Compression::None &&
                     l.pixelOffset == 1078;
  return l;
}

OutputShape Measure(const BmpLayout& l) {
  OutputShape s;
  s.width = l.width / 2;
  s.height = l.height / 2;
  s.rows = l.height < 0 ? -l.height : l.height;
  s.inStride = (l.width * l.bitCount + 31) / 32 * 4;
  s.outRows = s.height < 0 ? -s.height : s.height;
  s.outStride = (s.width * l.bitCount + 31) / 32 * 4;
  s.pixelBytes = s.outStride * s.outRows;
  return s;
}

void PatchHead(FileHead& h, const BmpLayout& l, const OutputShape& s) {
  const std::int64_t pixelsEnd = l.pixelOffset + s.pixelBytes;
  PutU32(h, kFileSize, static_cast<std::uint64_t>(pixelsEnd + l.profileSize));
  if (l.infoSize == kOs2v1) {
    PutU16(h, kOs2Width, static_cast<std::uint64_t>(s.width));
    PutU16(h, kOs2Height, static_cast<std::uint64_t>(s.height));
    return;
  }
  PutU32(h, kWidth, static_cast<std::uint64_t>(s.width));
  PutU32(h, kHeight, static_cast<std::uint64_t>(s.height));
  // Run-length rows are written uncompressed; bit fields stay as they are.
  if (l.RunLength()) PutU32(h, kCompression, 0);
  if (Has(l, kImageSize) && !l.keepsImageSize) PutU32(h, kImageSize, static_cast<std::uint64_t>(s.pixelBytes));
  // The profile follows the pixels; its offset counts from the info header.
  if (l.profileSize > 0) PutU32(h, kProfileData, static_cast<std::uint64_t>(pixelsEnd) - kInfo);
}

}  // namespace mapconv
