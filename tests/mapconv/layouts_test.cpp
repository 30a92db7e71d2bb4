// Layouts beyond the original one, spelled out byte by byte: each depth and
// compression, each header, and run-length streams that break the format.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mapconv/halver.h"
#include "mapconv/sub_byte_pixels.h"
#include "tests/support/halver_io.h"

namespace {

Bytes Of(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(std::byte(v));
  return b;
}

// The map's header and palette with the given run-length stream as its rows.
Bytes WithStream(BmpFields bmp, const Bytes& stream) {
  Bytes file = MakeBmp(bmp);
  file.resize(U32At(file, 10));
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}

struct Result {
  Bytes out;
  std::string failure;  // "format", "short" or empty
  std::string reason;   // of a format error
  int checks = 0;
};

Result Convert(const Bytes& in) {
  Result r;
  MemorySource source(in);
  MemorySink sink;
  RecordingBar bar;
  try {
    mapconv::Halve(source, sink, bar, [&] { ++r.checks; });
  } catch (const mapconv::EFormatError& e) {
    r.failure = "format";
    r.reason = e.reason();
  } catch (const mapconv::EForceBreak& e) {
    r.failure = e.what();
  } catch (const mapconv::EShortRead&) {
    r.failure = "short";
  }
  r.out = sink.data;
  return r;
}

Bytes Pixels(const Bytes& out) { return Bytes(out.begin() + U32At(out, 10), out.end()); }

BmpFields Rle8(int width, int height) {
  BmpFields bmp;
  bmp.width = width;
  bmp.height = height;
  bmp.compression = 1;
  bmp.paletteEntries = 64;
  return bmp;
}

TEST(Layouts, SmallMapsOfEveryDepthAndCompressionComeOutExactly) {
  BmpFields one;  // row 1 is 1 0 1 1 0 0 1 0 1: columns 0, 2, 4, 6 kept
  one.bitCount = 1;
  one.paletteEntries = 2;
  one.width = 9;
  one.height = 2;
  one.pixel = [](int x, int y) { return static_cast<std::uint8_t>(y == 1 ? (0b101100101 >> (8 - x)) & 1 : 1); };

  BmpFields four;  // columns 0 and 2 of row 1, packed again at 4 bits
  four.bitCount = 4;
  four.paletteEntries = 16;
  four.width = 5;
  four.height = 3;
  four.pixel = [](int x, int y) { return static_cast<std::uint8_t>(y * 5 + x + 1); };

  // Row 0: a run; row 1: a literal and a run; a delta from (0, 2) to (1, 3);
  // row 3: a run at columns 1 and 2, then the end with column 3 passed over.
  const Bytes rle8 = WithStream(Rle8(4, 4), Of({4, 0x10, 0, 0, 0, 3, 0x21, 0x22, 0x23, 0, 1, 0x24, 0, 0,
                                                 0, 2, 1, 1, 2, 0x35, 0, 1}));
  BmpFields rle4 = four;
  rle4.compression = 2;
  rle4.height = 2;  // row 0 empty; row 1 a literal of five: 3 4 5 6 7
  const Bytes rle4File = WithStream(rle4, Of({0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 1}));

  const struct {
    const char* name;
    Bytes in;
    Bytes rows;
  } cases[] = {
      {"1 bit, width 9", MakeBmp(one), Of({0xD0, 0, 0, 0})},
      {"4 bits, width 5", MakeBmp(four), Of({0x68, 0, 0, 0})},
      {"RLE8 with a literal, a delta and an early end", rle8, Of({0x21, 0x23, 0, 0, 0x00, 0x35, 0, 0})},
      {"RLE4 literal, width 5", rle4File, Of({0x35, 0, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = Convert(c.in);
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(Pixels(r.out), c.rows);
    EXPECT_EQ(U32At(r.out, 2), r.out.size());
    EXPECT_EQ(U32At(r.out, 30), 0u);  // written uncompressed
    EXPECT_EQ(U32At(r.out, 34), c.rows.size());
  }
}

// Picking a byte at a time keeps what picking pixel by pixel keeps, at every
// depth below 8 bits (2 bits too), for every byte.
TEST(Layouts, SubBytePickingKeepsTheEvenColumns) {
  for (int bits : {1, 2, 4}) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      unsigned want = 0;
      for (int x = 0; x < 8 / bits; x += 2) want = want << bits | (byte >> (8 - bits * (x + 1)) & ((1u << bits) - 1));
      ASSERT_EQ(mapconv::KeptNibble(bits, byte), want) << bits << " bits, byte " << byte;
      const unsigned char pair[] = {static_cast<unsigned char>(byte), static_cast<unsigned char>(255 - byte)};
      unsigned char packed = 0;
      mapconv::PackKeptNibbles(bits, pair, &packed, 1);
      EXPECT_EQ(packed, want << 4 | mapconv::KeptNibble(bits, 255 - byte));
    }
  }
}

// Every header keeps its bytes, masks, palette and gap at their offsets;
// only the sizes, run-length compression and image size change.
TEST(Layouts, EveryHeaderIsCarriedOverWithItsSizesPatched) {
  for (std::uint32_t infoSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    for (std::uint32_t compression : {0u, 1u, 6u}) {
      if (infoSize < 20 && compression != 0) continue;  // no compression field
      if (compression == 6 && (infoSize == 16 || infoSize == 64)) continue;  // OS/2 2.x: no bit fields
      SCOPED_TRACE("header " + std::to_string(infoSize) + ", compression " + std::to_string(compression));
      BmpFields bmp = Rle8(7, 6);
      bmp.compression = compression;
      bmp.infoSize = infoSize;
      bmp.paletteEntries = infoSize == 16 ? 256 : 20;  // no count: the full table
      bmp.gap = 3;
      bmp.pixel = [](int x, int y) { return static_cast<std::uint8_t>(x < 2 ? 0 : x + 10 * y); };
      if (compression == 6) bmp.bitCount = 64;  // alpha bit fields, masks after a 40-byte header
      const Bytes in = MakeBmp(bmp);
      const Result r = Convert(in);
      ASSERT_EQ(r.failure, "");
      const std::size_t offset = U32At(in, 10);
      std::set<std::size_t> patched =
          infoSize == 12 ? std::set<std::size_t>{2, 3, 4, 5, 18, 19, 20, 21}
                         : std::set<std::size_t>{2, 3, 4, 5, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32, 33, 34, 35, 36, 37};
      if (compression == 6) std::erase_if(patched, [](std::size_t i) { return i >= 30 && i < 34; });
      for (std::size_t i = 0; i < offset; ++i) {
        if (!patched.contains(i)) {
          ASSERT_EQ(r.out[i], in[i]) << "byte " << i;
        }
      }
      if (compression != 6) {
        EXPECT_EQ(Pixels(r.out), Of({0, 12, 14, 0, 0, 32, 34, 0, 0, 52, 54, 0}));
      }
      EXPECT_EQ(U32At(r.out, 2), r.out.size());
      if (infoSize == 12) {
        EXPECT_EQ(U32At(r.out, 18), 3u | 3u << 16);
      } else {
        EXPECT_EQ(I32At(r.out, 18), 3);
        EXPECT_EQ(I32At(r.out, 22), 3);
      }
      if (infoSize >= 24) {
        EXPECT_EQ(U32At(r.out, 34), compression == 6 ? 3 * 24u : 12u);
      }
    }
  }
}

TEST(Layouts, AV5ProfileFollowsThePixelsWithItsOffsetFixed) {
  BmpFields bmp;
  bmp.infoSize = 124;
  bmp.width = 10;
  bmp.height = 4;
  bmp.profile = Of({'p', 'r', 'o', 'f', 'i', 'l', 'e'});
  const Bytes in = MakeBmp(bmp);
  const Result r = Convert(in);
  ASSERT_EQ(r.failure, "");
  const std::size_t pixelsEnd = U32At(in, 10) + 2 * 8;
  ASSERT_EQ(r.out.size(), pixelsEnd + 7);
  EXPECT_EQ(Bytes(r.out.begin() + static_cast<std::ptrdiff_t>(pixelsEnd), r.out.end()), bmp.profile);
  EXPECT_EQ(U32At(r.out, 14 + 112), pixelsEnd - 14);
  EXPECT_EQ(U32At(r.out, 14 + 116), 7u);

  Bytes outside = in;  // a profile said to lie past the end of the file
  outside[14 + 112] = std::byte{0xF0};
  EXPECT_EQ(Convert(outside).failure, "format");
}

// Runs past a row's end are cut there, as writers that code rows over their
// padded width expect; a stream may stop without its end once every row is
// full. 4 x 4 maps; the output's pixels are 2 x 2, in rows of 4 bytes.
TEST(Layouts, RunLengthStreamsAreHeldToTheirRowsAndTheirEnd) {
  const struct {
    const char* name;
    Bytes stream;
    const char* failure;  // a format error's reason, "short" or empty
    Bytes pixels;
  } cases[] = {
      {"ends at once", Of({0, 1}), "", Of({0, 0, 0, 0, 0, 0, 0, 0})},
      {"every row ended, then the end", Of({0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), "", Of({0, 0, 0, 0, 0, 0, 0, 0})},
      {"a delta onto the last row", Of({0, 2, 3, 3, 1, 7, 0, 1}), "", Of({0, 0, 0, 0, 0, 0, 0, 0})},
      {"runs past the row's end", Of({0, 0, 1, 1, 5, 2, 0, 0, 0, 0, 6, 3, 0, 1}), "", Of({1, 2, 0, 0, 3, 3, 0, 0})},
      {"literal past the row's end, then a run", Of({0, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 2, 9, 0, 1}), "",
       Of({1, 3, 0, 0, 0, 0, 0, 0})},
      {"delta past the row's end", Of({0, 2, 5, 0, 0, 1}), "the run-length stream moves past the end of a row", {}},
      {"delta past the last row ends the pixels", Of({0, 0, 4, 1, 0, 2, 0, 9, 7, 7}), "", Of({1, 1, 0, 0, 0, 0, 0, 0})},
      {"pixels after the last row", Of({0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1}),
       "the run-length stream goes on past the last row", {}},
      {"every row ended, no end-of-bitmap", Of({0, 0, 0, 0, 0, 0, 0, 0}), "", Of({0, 0, 0, 0, 0, 0, 0, 0})},
      {"last row full, no end-of-bitmap", Of({0, 2, 0, 3, 4, 9}), "", Of({0, 0, 0, 0, 9, 9, 0, 0})},
      {"last row not full, no end-of-bitmap", Of({0, 2, 0, 3, 3, 9}), "short", {}},
      {"no end-of-bitmap", Of({4, 1, 0, 0}), "short", {}},
      {"cut inside a literal", Of({0, 3, 1}), "short", {}},
      {"cut inside a literal's padding", Of({0, 0, 0, 0, 0, 0, 0, 3, 1, 2, 3}), "short", {}},
      {"cut inside a delta", Of({0, 2, 1}), "short", {}},
      {"no stream at all", Of({}), "short", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = Convert(WithStream(Rle8(4, 4), c.stream));
    EXPECT_EQ(r.failure == "format" ? r.reason : r.failure, c.failure);
    if (r.failure.empty()) {
      EXPECT_EQ(r.checks, 5);  // before reading, then once per row
      EXPECT_EQ(Pixels(r.out), c.pixels);
    }
  }
}

}  // namespace
