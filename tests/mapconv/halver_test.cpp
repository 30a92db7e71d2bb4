#include "mapconv/halver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "tests/support/halver_io.h"

namespace {

struct Result {
  Bytes out;
  RecordingBar bar;
  int checks = 0;
};

Result HalveBytes(const Bytes& in) {
  Result r;
  MemorySource source(in);
  MemorySink sink;
  mapconv::Halve(source, sink, r.bar, [&] { ++r.checks; });
  r.out = sink.data;
  return r;
}

Bytes Rows(const Bytes& file) { return Bytes(file.begin() + U32At(file, 10), file.end()); }

Bytes Of(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(std::byte(v));
  return b;
}

// Independent, obviously correct halving, to compare the real one against.
Bytes NaiveHalve(const BmpFields& bmp) {
  const int w2 = bmp.width / 2;
  const int rows2 = std::abs(bmp.height / 2);
  const int bits = bmp.bitCount;
  Bytes out;
  for (int j = 0; j < rows2; ++j) {
    Bytes row(static_cast<std::size_t>((std::int64_t{w2} * bits + 31) / 32 * 4));
    for (int x = 0; x < w2; ++x) {
      row[static_cast<std::size_t>(x) * bits / 8] |= std::byte(bmp.pixel(2 * x, 2 * j + 1) << (8 - bits - x * bits % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

TEST(Halve, SmallMapsComeOutExactly) {
  BmpFields four;  // 4 x 4: two output rows of 2 pixels and 2 filler bytes
  const Result r = HalveBytes(MakeBmp(four));
  ASSERT_EQ(r.out.size(), 1086u);
  EXPECT_EQ(U32At(r.out, 2), 1086u);
  EXPECT_EQ(I32At(r.out, 18), 2);
  EXPECT_EQ(I32At(r.out, 22), 2);
  EXPECT_EQ(Rows(r.out), Of({0x01, 0x21, 0, 0, 0x03, 0x23, 0, 0}));

  BmpFields eight;
  eight.width = 8;
  eight.height = 2;
  EXPECT_EQ(Rows(HalveBytes(MakeBmp(eight)).out), Of({0x01, 0x21, 0x41, 0x61}));

  BmpFields five;  // columns 1, 3, 4 and the filler never reach the output
  five.width = 5;
  five.height = 5;
  const Result r5 = HalveBytes(MakeBmp(five));
  EXPECT_EQ(I32At(r5.out, 18), 2);
  EXPECT_EQ(I32At(r5.out, 22), 2);
  EXPECT_EQ(Rows(r5.out), Of({0x01, 0x21, 0, 0, 0x03, 0x23, 0, 0}));
}

TEST(Halve, HeaderAndPaletteAreCarriedOverWithOnlySizesChanged) {
  BmpFields bmp;
  bmp.width = 7;
  bmp.height = 9;
  const Bytes in = MakeBmp(bmp);
  const Bytes out = HalveBytes(in).out;
  for (std::size_t i = 0; i < 1078; ++i) {
    if ((i >= 2 && i < 6) || (i >= 18 && i < 26)) continue;  // size, width, height
    ASSERT_EQ(out[i], in[i]) << "header byte " << i;
  }
  EXPECT_EQ(U32At(out, 2), out.size());
}

TEST(Halve, HeightsBelowTwoGiveAnEmptyMapAndAFullBar) {
  for (int height : {0, 1, -1}) {
    BmpFields bmp;
    bmp.height = height;
    const Result r = HalveBytes(MakeBmp(bmp));
    EXPECT_EQ(r.out.size(), 1078u) << height;
    EXPECT_EQ(U32At(r.out, 2), 1078u);
    EXPECT_EQ(I32At(r.out, 22), 0);
    EXPECT_LE(r.bar.min, r.bar.max);
    ASSERT_FALSE(r.bar.positions.empty());
    EXPECT_EQ(r.bar.positions.back(), r.bar.max);
  }
}

TEST(Halve, TopDownMapsKeepTheirOrientation) {
  BmpFields bmp;
  bmp.width = 6;
  bmp.height = -5;
  const Result r = HalveBytes(MakeBmp(bmp));
  EXPECT_EQ(I32At(r.out, 22), -2);
  EXPECT_EQ(Rows(r.out), NaiveHalve(bmp));
  EXPECT_EQ(U32At(r.out, 2), 1078u + 2 * 4);
}

TEST(Halve, MatchesAPlainHalvingForManySizes) {
  std::mt19937 random(7);
  Bytes noise(1 << 16);
  for (auto& b : noise) b = std::byte(random());
  // Widths around the row chunk size exercise rows read in several pieces.
  // Run-length rows as well, RLE8 and RLE4: wide ones fill more than one
  // piece of decoded pixels.
  for (int width : {1, 2, 3, 9, 30, 31, 257, (1 << 20) - 1, (1 << 20) + 6}) {
    for (int height : {2, 3, 7, -4}) {
      for (std::uint32_t compression : {0u, 1u, 2u}) {
        if (compression > 0 && height < 0) continue;
        BmpFields bmp;
        bmp.width = width;
        bmp.height = height;
        bmp.compression = compression;
        bmp.bitCount = compression == 2 ? 4 : 8;
        bmp.paletteEntries = 1u << bmp.bitCount;
        const unsigned mask = compression == 2 ? 0x0F : 0xFF;
        // Stretches of noise and of runs 37 long.
        bmp.pixel = [&, mask](int x, int y) {
          if ((x / 37) % 3 != 0) return static_cast<std::uint8_t>((x / 37 + y) & mask);
          return static_cast<std::uint8_t>(std::to_integer<unsigned>(noise[(x * 131 + y * 7) % noise.size()]) & mask);
        };
        const Result r = HalveBytes(MakeBmp(bmp));
        ASSERT_EQ(Rows(r.out), NaiveHalve(bmp)) << width << " x " << height << ", compression " << compression;
        EXPECT_EQ(U32At(r.out, 2), r.out.size());
      }
    }
  }
}

TEST(Halve, ChecksBeforeReadingAndBeforeEveryRowWhileTheBarFillsSteadily) {
  for (int height : {5, -6, 64}) {
    BmpFields bmp;
    bmp.height = height;
    const Result r = HalveBytes(MakeBmp(bmp));
    EXPECT_EQ(r.checks, std::abs(height) + 1);
    EXPECT_EQ(r.bar.min, 0);
    EXPECT_TRUE(std::is_sorted(r.bar.positions.begin(), r.bar.positions.end()));
    // One position per row, then full; the bar is full only at the end.
    ASSERT_EQ(r.bar.positions.size(), static_cast<std::size_t>(std::abs(height) + 1));
    EXPECT_LT(r.bar.positions[r.bar.positions.size() - 2], r.bar.max);
    EXPECT_EQ(r.bar.positions.back(), r.bar.max);
  }
}

TEST(Halve, AnAbortAtARowStopsThereWithNothingMoreRead) {
  BmpFields bmp;
  bmp.height = 10;
  const Bytes in = MakeBmp(bmp);
  MemorySource source(in);
  MemorySink sink;
  RecordingBar bar;
  int checks = 0;
  // The fourth check is the one before row 2: rows 0 and 1 are done.
  auto check = [&] {
    if (++checks == 4) throw mapconv::EForceBreak("中断しました");
  };
  EXPECT_THROW(mapconv::Halve(source, sink, bar, check), mapconv::EForceBreak);
  EXPECT_EQ(checks, 4);
  EXPECT_EQ(source.reads, 2);  // the prefix and row 1
}

TEST(Halve, InputsOfAnotherLayoutAreRefusedBeforeAnythingIsWrittenAndSayWhy) {
  std::vector<BmpFields> broken(15);
  broken[0].type[0] = 'X';
  broken[1].bitCount = 7;
  broken[2].compression = 3;  // bit fields at 8 bits
  broken[3].pixelOffset = 1074;  // inside the palette
  broken[4].width = 0;
  broken[5].width = -4;
  broken[6].compression = 4;
  broken[7].compression = 1;  // run-length rows are never stored top-down
  broken[7].height = -4;
  broken[8].compression = 2;  // RLE4 at 8 bits
  broken[9].coloursUsed = 257;
  broken[10].infoSize = 66;
  broken[11].pixelOffset = 1 << 20;  // past the end of the file
  broken[12].infoSize = 64;  // OS/2 2.x numbers its compressions apart
  broken[12].compression = 4;
  broken[13].compression = 5;
  broken[14].pixelOffset = 40;  // inside the header
  const char* reasons[] = {"not a bitmap: the file does not start with BM",
                           "7 bits per pixel is not a bitmap depth",
                           "bit fields at 8 bits per pixel are not read",
                           "the palette of 256 colours runs into the pixel data",
                           "the width must be at least 1 pixel, not 0",
                           "the width must be at least 1 pixel, not -4",
                           "JPEG-compressed pixels are not read",
                           "run-length rows stored top-down are not read",
                           "RLE4 compression at 8 bits per pixel is not read",
                           "the palette of 257 colours runs into the pixel data",
                           "unknown header size: 66 bytes",
                           "the pixel data starts past the end of the file",
                           "OS/2 RLE24 compression is not read",
                           "PNG-compressed pixels are not read",
                           "the pixel data starts inside the headers"};
  for (const BmpFields& bmp : broken) {
    const auto i = static_cast<std::size_t>(&bmp - broken.data());
    SCOPED_TRACE(i);
    const Bytes in = MakeBmp(bmp);
    MemorySource source(in);
    MemorySink sink;
    RecordingBar bar;
    try {
      mapconv::Halve(source, sink, bar, [] {});
      ADD_FAILURE() << "accepted a map it does not read";
    } catch (const mapconv::EFormatError& e) {
      EXPECT_STREQ(e.what(), "bitmap format error");
      EXPECT_STREQ(e.reason(), reasons[i]);
    }
    EXPECT_TRUE(sink.data.empty());
  }
}

TEST(Halve, ShortInputsFailAsShortReads) {
  BmpFields bmp;
  bmp.height = 6;
  const Bytes whole = MakeBmp(bmp);

  // Shorter than the prefix: nothing at all is written.
  const Bytes stub(whole.begin(), whole.begin() + 1000);
  MemorySource stubSource(stub);
  MemorySink stubSink;
  RecordingBar bar;
  EXPECT_THROW(mapconv::Halve(stubSource, stubSink, bar, [] {}), mapconv::EShortRead);
  EXPECT_TRUE(stubSink.data.empty());

  // Cut inside row 3's filler: rows 0..2 are fine, row 3 cannot be read whole.
  const Bytes cut(whole.begin(), whole.begin() + 1078 + 3 * 4 + 3);
  MemorySource cutSource(cut);
  MemorySink cutSink;
  int checks = 0;
  EXPECT_THROW(mapconv::Halve(cutSource, cutSink, bar, [&] { ++checks; }), mapconv::EShortRead);
  EXPECT_EQ(checks, 5);  // before reading, then rows 0 to 3
}

}  // namespace
