// Conversions held to an independent decoder, Qt's bitmap reader: the
// output's pixels must be the input's at odd rows (file order) and even
// columns, and its colour table the input's. Generated maps cover each
// header, depth and compression; the outside bitmap suite covers what other
// writers make.
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "mapconv/halver.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/memory_io.h"
#include "tests/support/recording_bar.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::BmpFields;
using testing_support::Bytes;
using testing_support::U32At;

// The converted bytes, or nothing when the conversion refused the input.
std::optional<Bytes> Convert(const Bytes& in) {
  testing_support::MemorySource source(in);
  testing_support::MemorySink sink;
  testing_support::RecordingBar bar;
  try {
    mapconv::Halve(source, sink, bar, [] {});
  } catch (const mapconv::EForceBreak&) {
    return std::nullopt;
  } catch (const mapconv::EShortRead&) {
    return std::nullopt;
  }
  return sink.data;
}

// The reader knows neither the 16-byte OS/2 header nor the 52- and 56-byte
// ones: the same bitmap with a 40-byte header, the fields it lacks zero.
Bytes WithInfo40(Bytes file) {
  const std::uint32_t size = U32At(file, 14);
  if (size != 16 && size != 52 && size != 56) return file;
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
  return U32At(file, 14) == 12 && U32At(file, 10) < 26 + 3 * (1u << (U32At(file, 24) & 0xFFFF));
}

// Empty when out is in's half-scale copy as the decoder sees both.
std::string Mismatch(const Bytes& inFile, const Bytes& outFile) {
  const QImage in = Decode(inFile);
  const QImage out = Decode(outFile);
  if (in.isNull() || out.isNull()) return in.isNull() ? "input not decoded" : "output not decoded";
  if (out.width() != in.width() / 2 || out.height() != in.height() / 2) return "sizes differ";
  if (Palette(out, outFile) != Palette(in, inFile)) return "colour tables differ";
  if (in.colorCount() == 0) return "not a palette image";
  // Qt shows rows top to bottom; bottom-up files store them the other way.
  const bool topDown = static_cast<std::int32_t>(U32At(inFile, 22)) < 0 && U32At(inFile, 14) != 12;
  for (int y = 0; y < out.height(); ++y) {
    const int fileRow = 2 * (topDown ? y : out.height() - 1 - y) + 1;
    const int inY = topDown ? fileRow : in.height() - 1 - fileRow;
    for (int x = 0; x < out.width(); ++x) {
      if (out.pixelIndex(x, y) != in.pixelIndex(2 * x, inY)) {
        return "pixel " + std::to_string(x) + ", " + std::to_string(y) + " differs";
      }
    }
  }
  return "";
}

TEST(DecoderOracle, GeneratedMapsOfEveryHeaderDepthAndCompression) {
  int checked = 0;
  for (std::uint32_t infoSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    for (std::uint16_t bits : {1, 4, 8}) {
      for (int coding : {0, 1, 2}) {  // stored; run-length; runs over the padded width
        const bool rle = coding > 0;
        if (rle && (bits == 1 || infoSize < 20)) continue;
        for (int width : {2, 13, 30, 37}) {  // the reader takes no empty image
          for (int height : {7, 10, -5}) {
            if ((rle || infoSize == 12) && height < 0) continue;
            BmpFields bmp;
            bmp.infoSize = infoSize;
            bmp.bitCount = bits;
            bmp.compression = rle ? (bits == 8 ? 1 : 2) : 0;
            bmp.paddedRuns = coding == 2;
            bmp.width = width;
            bmp.height = height;
            // A short palette where the header can say so, and a gap.
            const std::uint32_t full = 1u << bits;
            bmp.paletteEntries = infoSize >= 40 && bits > 1 ? full - 3 : full;
            bmp.gap = infoSize == 12 ? 0 : 6;
            bmp.pixel = [bits, entries = bmp.paletteEntries](int x, int y) {
              const int v = (x * 7 + y * 13) % 11 < 4 ? 0 : (x * x + 3 * y + x / 5) % static_cast<int>(entries);
              return static_cast<std::uint8_t>(v & ((1 << bits) - 1));
            };
            if (infoSize == 124) bmp.profile = Bytes(9, std::byte{0x5C});
            SCOPED_TRACE("header " + std::to_string(infoSize) + ", " + std::to_string(bits) + " bits" +
                         (rle ? ", RLE" : "") + (coding == 2 ? " padded" : "") + ", " + std::to_string(width) + " x " + std::to_string(height));
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
  EXPECT_GT(checked, 400);
}

// ImageMagick writes a palette image as RLE8 coded over the padded width, so
// at widths 4k+1 to 4k+3 every row's runs pass its end.
TEST(DecoderOracle, ImageMagickRunsOverThePaddedWidth) {
  if (std::system("convert -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick's convert is not installed";
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

// Good bitmaps that hold a palette all convert; questionable and bad ones
// convert to what the decoder sees or are refused. Files the decoder cannot
// read right are left to the unit tests and the model.
TEST(DecoderOracle, OutsideBitmapSuite) {
  const std::filesystem::path suite = BMPSUITE_DIR;
  if (!std::filesystem::is_directory(suite)) GTEST_SKIP() << "no bitmap suite at " << suite;
  int goodPalette = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(suite)) {
    if (entry.path().extension() != ".bmp") continue;
    SCOPED_TRACE(entry.path().string());
    const Bytes in = testing_support::ReadAll(entry.path());
    const auto out = Convert(in);
    const bool good = entry.path().parent_path().filename() == "g";
    const bool palette = entry.path().filename().string().starts_with("pal");
    if (good && palette) {
      ++goodPalette;
      ASSERT_TRUE(out.has_value()) << "refused";
    }
    // The reader carries runs past a row's end on into the next row, where
    // common readers drop them; the bad run-length files run far past the
    // row's padding, and are held to the model by the corpus replay instead.
    if (entry.path().filename().string().starts_with("badrle")) continue;
    if (!out || Decode(in).isNull() || ShortOs2Palette(in)) continue;
    EXPECT_EQ(Mismatch(in, *out), "");
  }
  EXPECT_EQ(goodPalette, 18);
}

}  // namespace
