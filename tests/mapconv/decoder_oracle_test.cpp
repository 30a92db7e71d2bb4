// Conversions held to an independent decoder, Qt's bitmap reader: the
// output's pixels must be the input's at odd rows (file order) and even
// columns, and its colour table the input's. Stored rows are also held to
// the format's definition, bit for bit, which covers what Qt does not read
// (2 and 64 bits, alpha bit fields). Generated maps cover each header, depth,
// compression and mask; the outside bitmap suite covers what other writers
// make.
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "mapconv/halver.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/memory_io.h"
#include "tests/support/recording_bar.h"
#include "tests/support/temp_folder.h"
#include "tests/support/needs.h"

namespace {

using testing_support::BmpFields;
using testing_support::Bytes;
using testing_support::I32At;
using testing_support::U32At;

// The converted bytes, or nothing when the conversion refused the input,
// with the reason given, "cut file" for a short read.
std::optional<Bytes> Convert(const Bytes& in, std::string* refusal = nullptr) {
  testing_support::MemorySource source(in);
  testing_support::MemorySink sink;
  testing_support::RecordingBar bar;
  try {
    mapconv::Halve(source, sink, bar, [] {});
  } catch (const mapconv::EFormatError& e) {
    if (refusal) *refusal = e.reason();
    return std::nullopt;
  } catch (const mapconv::EShortRead&) {
    if (refusal) *refusal = "cut file";
    return std::nullopt;
  }
  return sink.data;
}

// The reader knows neither the 16-byte OS/2 header nor the 52- and 56-byte
// ones: the same bitmap with a 40-byte header, the fields it lacks zero. With
// bit fields the masks already lie where they follow a 40-byte header.
Bytes WithInfo40(Bytes file) {
  const std::uint32_t size = U32At(file, 14);
  if (size != 16 && size != 52 && size != 56) return file;
  if (size != 16 && U32At(file, 30) == 3) {
    file[14] = std::byte{40};
    return file;
  }
  const auto growth = static_cast<std::int64_t>(40) - size;
  Bytes info(file.begin() + 14, file.begin() + 14 + std::min<std::uint32_t>(size, 40));
  info.resize(40);
  info[0] = std::byte{40};
  Bytes out(file.begin(), file.begin() + 14);
  out.insert(out.end(), info.begin(), info.end());
  out.insert(out.end(), file.begin() + 14 + size, file.end());
  for (std::size_t at : {std::size_t{2}, std::size_t{10}}) {
    const auto value = static_cast<std::uint32_t>(U32At(file, at) + growth);
    for (int i = 0; i < 4; ++i) out[at + i] = std::byte(value >> (8 * i));
  }
  return out;
}

// The reader leaves pixels that run-length codes pass over as it finds them
// in the image it is given: an image of index 0 gives them the value the
// format's readers agree on.
QImage Decode(const Bytes& file) {
  Bytes readable = WithInfo40(file);
  QByteArray data(reinterpret_cast<const char*>(readable.data()), static_cast<qsizetype>(readable.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer, "BMP");
  QImage image;
  if (reader.size().isValid()) {  // not for top-down maps, never run-length encoded
    image = QImage(reader.size(), QImage::Format_Indexed8);
    image.setColorCount(256);
    image.fill(0);
  }
  if (!reader.read(&image)) return {};
  return image;
}

// OS/2 1.x keeps as many entries as fit before the pixels; the reader takes
// a full table, its end read from the pixels.
QList<QRgb> Palette(const QImage& image, const Bytes& file) {
  QList<QRgb> table = image.colorTable();
  if (U32At(file, 14) == 12) table.resize(std::min<qsizetype>(table.size(), (U32At(file, 10) - 26) / 3));
  return table;
}

// The reader takes a full OS/2 1.x table and the pixels right after it,
// wherever the header says they start.
bool ShortOs2Palette(const Bytes& file) {
  const std::uint32_t bits = U32At(file, 24) & 0xFFFF;
  return U32At(file, 14) == 12 && bits <= 8 && U32At(file, 10) < 26 + 3 * (1u << bits);
}

// Width, height, depth and pixel offset, as the format defines them.
struct Dims {
  std::int64_t width, height, bits, offset;
  bool stored;  // rows not run-length encoded
};

Dims DimsOf(const Bytes& file) {
  if (U32At(file, 14) == 12) {
    return {U32At(file, 18) & 0xFFFF, U32At(file, 18) >> 16, U32At(file, 22) >> 16, U32At(file, 10), true};
  }
  const std::uint32_t compression = U32At(file, 14) >= 20 ? U32At(file, 30) : 0;
  return {I32At(file, 18), I32At(file, 22), U32At(file, 26) >> 16, U32At(file, 10),
          compression != 1 && compression != 2};
}

// The bits of stored pixel (x, y), y in file order, most significant first.
std::uint64_t StoredPixel(const Bytes& file, const Dims& d, std::int64_t x, std::int64_t y) {
  const std::int64_t first = 8 * (d.offset + y * ((d.width * d.bits + 31) / 32 * 4)) + x * d.bits;
  std::uint64_t value = 0;
  for (std::int64_t b = first; b < first + d.bits; ++b) {
    value = value << 1 | (std::to_integer<unsigned>(file.at(static_cast<std::size_t>(b / 8))) >> (7 - b % 8) & 1);
  }
  return value;
}

// Empty when out's stored pixels are in's, bit for bit.
std::string StoredMismatch(const Bytes& inFile, const Bytes& outFile) {
  const Dims in = DimsOf(inFile), out = DimsOf(outFile);
  if (out.width != in.width / 2 || out.height != in.height / 2 || out.bits != in.bits) return "sizes differ";
  for (std::int64_t j = 0; j < std::abs(out.height); ++j) {
    for (std::int64_t x = 0; x < out.width; ++x) {
      if (StoredPixel(outFile, out, x, j) != StoredPixel(inFile, in, 2 * x, 2 * j + 1)) {
        return "stored pixel " + std::to_string(x) + ", " + std::to_string(j) + " differs";
      }
    }
  }
  return "";
}

// Empty when out is in's half-scale copy as the decoder sees both, and
// bit for bit when the rows are stored.
std::string Mismatch(const Bytes& inFile, const Bytes& outFile) {
  if (DimsOf(inFile).stored) {
    if (const std::string stored = StoredMismatch(inFile, outFile); !stored.empty()) return stored;
  }
  const QImage in = Decode(inFile);
  if (in.isNull() && DimsOf(inFile).stored) return "";  // a layout the decoder does not read
  const QImage out = Decode(outFile);
  if (in.isNull() || out.isNull()) return in.isNull() ? "input not decoded" : "output not decoded";
  if (out.width() != in.width() / 2 || out.height() != in.height() / 2) return "sizes differ";
  if (Palette(out, outFile) != Palette(in, inFile)) return "colour tables differ";
  // Qt shows rows top to bottom; bottom-up files store them the other way.
  const bool topDown = static_cast<std::int32_t>(U32At(inFile, 22)) < 0 && U32At(inFile, 14) != 12;
  for (int y = 0; y < out.height(); ++y) {
    const int fileRow = 2 * (topDown ? y : out.height() - 1 - y) + 1;
    const int inY = topDown ? fileRow : in.height() - 1 - fileRow;
    for (int x = 0; x < out.width(); ++x) {
      const bool same = in.colorCount() > 0 ? out.pixelIndex(x, y) == in.pixelIndex(2 * x, inY)
                                            : out.pixel(x, y) == in.pixel(2 * x, inY);
      if (!same) return "pixel " + std::to_string(x) + ", " + std::to_string(y) + " differs";
    }
  }
  return "";
}

TEST(DecoderOracle, GeneratedMapsOfEveryHeaderDepthAndCompression) {
  // 555, 565, odd and alpha masks at 16 bits; with and without alpha at 32.
  const std::array<std::uint32_t, 4> masks16[] = {
      {0x7C00, 0x3E0, 0x1F, 0}, {0xF800, 0x7E0, 0x1F, 0}, {0x30, 0xE, 0x1, 0}, {0xF00, 0xF0, 0xF, 0xF000}};
  const std::array<std::uint32_t, 4> masks32[] = {
      {0xFF0000, 0xFF00, 0xFF, 0}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}};
  int checked = 0;
  for (std::uint32_t infoSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    const bool windows = infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize > 64;
    for (std::uint16_t bits : {1, 2, 4, 8, 16, 24, 32, 64}) {
      for (std::uint32_t compression : {0u, 1u, 2u, 3u, 6u}) {
        // Run-length at its depth; bit fields above 8 bits in Windows headers.
        const bool rle = compression == 1 || compression == 2;
        if (compression != 0 && (infoSize < 20 || (rle && bits != 12 - 4 * compression) ||
                                 (!rle && (bits <= 8 || !windows)))) {
          continue;
        }
        for (bool padded : {false, true}) {  // runs over the padded width
          if (padded && !rle) continue;
        for (int width : {2, 13, 30, 37}) {  // the reader takes no empty image
          for (int height : {7, 10, -5}) {
            if ((rle || infoSize == 12) && height < 0) continue;
            BmpFields bmp;
            bmp.infoSize = infoSize;
            bmp.bitCount = bits;
            bmp.compression = compression;
            bmp.paddedRuns = padded;
            bmp.width = width;
            bmp.height = height;
            bmp.masks = bits == 16 ? masks16[checked % 4] : masks32[checked % 3];
            // A short palette where the header can say so, a colour table
            // above 8 bits, and a gap.
            const std::uint32_t full = bits <= 8 ? 1u << bits : 0;
            bmp.paletteEntries = infoSize >= 40 && bits > 2 ? (bits <= 8 ? full - 3 : 16) : full;
            bmp.gap = infoSize == 12 ? 0 : 6;
            bmp.pixel = [bits, values = bits > 8 ? 256 : static_cast<int>(bmp.paletteEntries)](int x, int y) {
              const int v = (x * 7 + y * 13) % 11 < 4 ? 0 : (x * x + 3 * y + x / 5) % values;
              return static_cast<std::uint8_t>(bits >= 8 ? v : v & ((1 << bits) - 1));
            };
            if (infoSize == 124) bmp.profile = Bytes(9, std::byte{0x5C});
            SCOPED_TRACE("header " + std::to_string(infoSize) + ", " + std::to_string(bits) + " bits, compression " +
                         std::to_string(compression) + (padded ? " padded" : "") + ", " + std::to_string(width) + " x " + std::to_string(height));
            const Bytes in = testing_support::MakeBmp(bmp);
            const auto out = Convert(in);
            ASSERT_TRUE(out.has_value());
            EXPECT_EQ(Mismatch(in, *out), "");
            ++checked;
          }
        }
        }
      }
    }
  }
  EXPECT_GT(checked, 900);

  // 3-byte pixels in rows longer than a read and in output longer than a
  // write: rows go in pieces of whole pixel pairs, a pixel crosses a write.
  BmpFields wide;
  wide.bitCount = 24;
  wide.paletteEntries = 0;
  wide.width = 350001;
  wide.height = 7;
  const Bytes in = testing_support::MakeBmp(wide);
  EXPECT_EQ(StoredMismatch(in, Convert(in).value()), "");
}

// ImageMagick writes a palette image as RLE8 coded over the padded width, so
// at widths 4k+1 to 4k+3 every row's runs pass its end.
TEST(DecoderOracle, ImageMagickRunsOverThePaddedWidth) {
  HALFMAP_NEEDS(std::system("convert -version >/dev/null 2>&1") == 0, "ImageMagick's convert is not installed");
  const testing_support::TempFolder folder;
  for (int width : {72, 73, 74, 75, 77}) {
    SCOPED_TRACE("width " + std::to_string(width));
    std::string ppm = "P6\n" + std::to_string(width) + " 9\n255\n";  // 20 colours: more than 4 bits hold
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < width; ++x) {
        const int v = (x / 3 + x * y % 5 + y) % 20 * 12;
        ppm += {static_cast<char>(v), static_cast<char>(255 - v), static_cast<char>(v * 7)};
      }
    }
    testing_support::WriteAll(folder / "in.ppm", Bytes(reinterpret_cast<const std::byte*>(ppm.data()),
                                                       reinterpret_cast<const std::byte*>(ppm.data() + ppm.size())));
    const std::string command = "convert '" + (folder / "in.ppm").string() + "' -type Palette '" +
                                (folder / "in.bmp").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes in = testing_support::ReadAll(folder / "in.bmp");
    ASSERT_EQ(U32At(in, 30), 1u) << "not written as RLE8";
    const auto out = Convert(in);
    ASSERT_TRUE(out.has_value()) << "refused";
    EXPECT_EQ(Mismatch(in, *out), "");
  }
}

// Good bitmaps all convert; questionable and bad ones convert to what the
// decoder sees, or are refused with a reason. Files the decoder cannot read
// right are held to their stored bits, or left to the unit tests and the
// model.
TEST(DecoderOracle, OutsideBitmapSuite) {
  const std::filesystem::path suite = BMPSUITE_DIR;
  HALFMAP_NEEDS(std::filesystem::is_directory(suite), "no bitmap suite at " << suite);
  int good = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(suite)) {
    if (entry.path().extension() != ".bmp") continue;
    SCOPED_TRACE(entry.path().string());
    const Bytes in = testing_support::ReadAll(entry.path());
    std::string refusal;
    const auto out = Convert(in, &refusal);
    if (entry.path().parent_path().filename() == "g") {
      ++good;
      ASSERT_TRUE(out.has_value()) << "refused: " << refusal;
    }
    if (!out) {
      EXPECT_NE(refusal, "");
      continue;
    }
    // The reader carries runs past a row's end on into the next row, where
    // common readers drop them; the bad run-length files run far past the
    // row's padding, and are held to the model by the corpus replay instead.
    if (entry.path().filename().string().starts_with("badrle")) continue;
    if (ShortOs2Palette(in)) {
      EXPECT_EQ(StoredMismatch(in, *out), "");
    } else if (DimsOf(in).stored || !Decode(in).isNull()) {
      EXPECT_EQ(Mismatch(in, *out), "");
    }
  }
  EXPECT_EQ(good, 27);
}

}  // namespace
