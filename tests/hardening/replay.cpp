#include "tests/hardening/replay.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "mapconv/errors.h"
#include "mapconv/halver.h"
#include "tests/support/memory_io.h"
#include "tests/support/recording_bar.h"

namespace hardening {
namespace {

// The model's own ways out, kept apart from the conversion's exceptions.
struct Cut {};
struct Refused {};

// Little-endian fields of the input; reading past its end is a cut file.
class Input {
 public:
  explicit Input(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::int64_t size() const { return static_cast<std::int64_t>(bytes_.size()); }
  unsigned U8(std::int64_t at) const {
    if (at < 0 || at >= size()) throw Cut{};
    return std::to_integer<unsigned>(bytes_[static_cast<std::size_t>(at)]);
  }
  std::int64_t U16(std::int64_t at) const { return U8(at) | U8(at + 1) << 8; }
  std::int64_t U32(std::int64_t at) const { return U16(at) | U16(at + 2) << 16; }
  std::int64_t I32(std::int64_t at) const { return static_cast<std::int32_t>(U32(at)); }
  std::span<const std::byte> bytes() const { return bytes_; }

 private:
  std::span<const std::byte> bytes_;
};

struct Header {
  std::int64_t info = 0, width = 0, height = 0, bits = 0, compression = 0, offset = 0;
  std::int64_t profileAt = 0, profileSize = 0;
};

bool KnownInfoSize(std::int64_t info) { return info == 12 || (info >= 16 && info <= 64) || info == 108 || info == 124; }

// OS/2 2.x headers: 16 to 64 bytes but the Windows sizes; no bit fields.
bool Os2v2(std::int64_t info) { return info >= 16 && info <= 64 && info != 40 && info != 52 && info != 56; }

bool BitFields(const Header& h) { return !Os2v2(h.info) && (h.compression == 3 || h.compression == 6) && h.bits > 8; }

// The palette announced: OS/2 1.x holds whatever 3-byte entries fit before
// the pixels; every other header counts its 4-byte entries, 0 for all the
// depth has, none above 8 bits. A 40-byte header with bit fields has its
// masks first.
std::int64_t PaletteEnd(const Input& in, const Header& h) {
  const std::int64_t most = h.bits <= 8 ? std::int64_t{1} << h.bits : 0;
  const std::int64_t start = 14 + h.info + (h.info == 40 && BitFields(h) ? (h.compression == 6 ? 16 : 12) : 0);
  if (h.offset < start) throw Refused{};
  if (h.info == 12) return start + 3 * std::min(most, (h.offset - start) / 3);
  const std::int64_t used = h.info >= 36 ? in.U32(46) : 0;
  if (start + 4 * (used == 0 ? most : used) > h.offset) throw Refused{};
  return start + 4 * (used == 0 ? most : used);
}

Header ParseHeader(const Input& in) {
  Header h;
  // What does not start with "BM", an empty file too, is no bitmap cut short.
  if (in.size() < 2 || in.U8(0) != 'B' || in.U8(1) != 'M') throw Refused{};
  h.info = in.U32(14);
  if (!KnownInfoSize(h.info)) throw Refused{};
  if (14 + h.info > in.size()) throw Cut{};
  h.offset = in.U32(10);
  const bool os2 = h.info == 12;
  h.width = os2 ? in.U16(18) : in.I32(18);
  h.height = os2 ? in.U16(20) : in.I32(22);
  h.bits = in.U16(os2 ? 24 : 28);
  h.compression = h.info >= 20 ? in.U32(30) : 0;
  const bool rle = (h.compression == 1 && h.bits == 8) || (h.compression == 2 && h.bits == 4);
  const bool depth = h.bits == 1 || h.bits == 2 || h.bits == 4 || h.bits == 8 || h.bits == 16 || h.bits == 24 ||
                     h.bits == 32 || h.bits == 64;
  if (!depth || (h.compression != 0 && !rle && !BitFields(h))) throw Refused{};
  if (h.width <= 0 || (rle && h.height < 0)) throw Refused{};
  if (PaletteEnd(in, h) > in.size()) throw Cut{};
  if (h.offset > in.size()) throw Refused{};
  if (h.info == 124 && (in.U32(70) == 0x4D424544 || in.U32(70) == 0x4C494E4B)) {
    h.profileAt = 14 + in.U32(126);
    h.profileSize = in.U32(130);
    if (h.profileSize > 0 && h.profileAt + h.profileSize > in.size()) throw Refused{};
  }
  return h;
}

// The output's pixel rows, filled as the input's pixels come, (x, y) in
// file order: a pixel of an odd row and even column goes to its place in
// output row y / 2, whole bytes first byte lowest, smaller ones from the
// high bits down; every other pixel is dropped.
class HalfImage {
 public:
  HalfImage(std::int64_t width, std::int64_t rows, std::int64_t bits)
      : width_(width), bits_(bits), stride_((width * bits + 31) / 32 * 4),
        pixels_(static_cast<std::size_t>(stride_ * rows)) {}
  void Set(std::int64_t x, std::int64_t y, std::uint64_t index) {
    if (y % 2 == 0 || x % 2 == 1 || x / 2 >= width_) return;
    const std::int64_t bit = y / 2 * stride_ * 8 + x / 2 * bits_;
    std::byte* at = &pixels_[static_cast<std::size_t>(bit / 8)];
    for (std::int64_t i = 0; bits_ > 8 && i < bits_ / 8; ++i) at[i] = std::byte(index >> (8 * i));
    if (bits_ <= 8) {
      const int shift = static_cast<int>(8 - bits_ - bit % 8);
      const unsigned mask = (1u << bits_) - 1;
      *at = (*at & ~std::byte(mask << shift)) | std::byte((index & mask) << shift);
    }
  }
  const Bytes& pixels() const { return pixels_; }

 private:
  std::int64_t width_, bits_, stride_;
  Bytes pixels_;
};

void ReadStored(const Input& in, const Header& h, std::int64_t rows, HalfImage& image) {
  const std::int64_t stride = (h.width * h.bits + 31) / 32 * 4;
  for (std::int64_t y = 1; y < rows; y += 2) {
    for (std::int64_t x = 0; x < h.width; x += 2) {
      const std::int64_t bit = x * h.bits;
      if (h.bits > 8) {  // whole bytes, kept as they are, first byte lowest
        std::uint64_t value = 0;
        for (std::int64_t i = h.bits / 8 - 1; i >= 0; --i) value = value << 8 | in.U8(h.offset + y * stride + bit / 8 + i);
        image.Set(x, y, value);
        continue;
      }
      const unsigned byte = in.U8(h.offset + y * stride + bit / 8);
      image.Set(x, y, byte >> (8 - h.bits - bit % 8) & ((1u << h.bits) - 1));
    }
  }
}

// Runs, literals, deltas, end of line and end of bitmap, as the format has
// them; whatever is passed over stays 0, pixels past a row's end are
// dropped, and the stream may stop without its end once every row is full.
void ReadRle(const Input& in, const Header& h, std::int64_t rows, HalfImage& image) {
  const bool four = h.compression == 2;
  std::int64_t at = h.offset, x = 0, y = 0;
  auto pixel = [&](unsigned pair, std::int64_t i) { return four ? (i % 2 == 0 ? pair >> 4 : pair & 15) : pair; };
  auto put = [&](std::int64_t i, unsigned index) {
    if (x + i < h.width) image.Set(x + i, y, index);
  };
  for (;;) {
    if (at == in.size() && (y == rows || (y == rows - 1 && x == h.width))) return;
    if (y == rows) {  // past the last row only end-of-bitmap may come
      if (in.U8(at) != 0 || in.U8(at + 1) != 1) throw Refused{};
      return;
    }
    const unsigned a = in.U8(at), b = in.U8(at + 1);
    at += 2;
    if (a > 0) {
      for (unsigned i = 0; i < a; ++i) put(i, pixel(b, i));
      x = std::min(x + a, h.width);
    } else if (b == 0) {
      x = 0;
      ++y;
    } else if (b == 1) {
      return;
    } else if (b == 2) {
      const unsigned right = in.U8(at), down = in.U8(at + 1);
      at += 2;
      if (y + down >= rows) return;
      x += right;
      y += down;
      if (x > h.width) throw Refused{};
    } else {
      const std::int64_t bytes = four ? (b + 1) / 2 : b;
      for (unsigned i = 0; i < b; ++i) put(i, pixel(in.U8(at + (four ? i / 2 : i)), four ? i : 0));
      at += bytes + bytes % 2;
      x = std::min(x + b, h.width);
    }
  }
}

void PutU16(Bytes& b, std::int64_t at, std::int64_t v) {
  for (int i = 0; i < 2; ++i) b[static_cast<std::size_t>(at + i)] = std::byte(static_cast<std::uint64_t>(v) >> (8 * i));
}

void PutU32(Bytes& b, std::int64_t at, std::int64_t v) {
  PutU16(b, at, v);
  PutU16(b, at + 2, static_cast<std::int64_t>(static_cast<std::uint64_t>(v) >> 16 & 0xFFFF));
}

Bytes Output(const Input& in, const Header& h, const HalfImage& image, std::int64_t w2, std::int64_t h2) {
  const auto pixelBytes = static_cast<std::int64_t>(image.pixels().size());
  Bytes out(in.bytes().begin(), in.bytes().begin() + h.offset);
  PutU32(out, 2, h.offset + pixelBytes + h.profileSize);
  if (h.info == 12) {
    PutU16(out, 18, w2);
    PutU16(out, 20, h2);
  } else {
    PutU32(out, 18, w2);
    PutU32(out, 22, h2);
    if (h.compression == 1 || h.compression == 2) PutU32(out, 30, 0);
    const bool original = h.info == 40 && h.bits == 8 && h.compression == 0 && h.offset == 1078;
    if (h.info >= 24 && !original) PutU32(out, 34, pixelBytes);
    if (h.profileSize > 0) PutU32(out, 126, h.offset + pixelBytes - 14);
  }
  out.insert(out.end(), image.pixels().begin(), image.pixels().end());
  const auto profile = in.bytes().subspan(static_cast<std::size_t>(h.profileAt), static_cast<std::size_t>(h.profileSize));
  out.insert(out.end(), profile.begin(), profile.end());
  return out;
}

const char* Name(Outcome outcome) {
  switch (outcome) {
    case Outcome::Done: return "done";
    case Outcome::ShortRead: return "short read";
    case Outcome::FormatError: return "format error";
    case Outcome::TooLarge: return "too large";
  }
  return "?";
}

}  // namespace

Expected Model(std::span<const std::byte> bytes, Limits limits) {
  const Input in(bytes);
  try {
    const Header h = ParseHeader(in);
    const std::int64_t rows = h.height < 0 ? -h.height : h.height;
    const std::int64_t w2 = h.width / 2, h2 = h.height / 2;
    const std::int64_t outBytes = (w2 * h.bits + 31) / 32 * 4 * (rows / 2);
    if (h.compression != 0 && !BitFields(h) && (outBytes > limits.outputBytes || rows > limits.rows)) {
      return {Outcome::TooLarge, {}};
    }
    // Every kept row is read whole, its filler included; compared by
    // division, as rows times stride may pass 64 bits.
    const bool stored = h.compression != 1 && h.compression != 2;
    if (stored && rows >= 2 && rows / 2 * 2 > (in.size() - h.offset) / ((h.width * h.bits + 31) / 32 * 4)) {
      return {Outcome::ShortRead, {}};
    }
    HalfImage image(w2, rows / 2, h.bits);
    if (stored) {
      ReadStored(in, h, rows, image);
    } else {
      ReadRle(in, h, rows, image);
    }
    return {Outcome::Done, Output(in, h, image, w2, h2)};
  } catch (const Cut&) {
    return {Outcome::ShortRead, {}};
  } catch (const Refused&) {
    return {Outcome::FormatError, {}};
  }
}

std::string Replay(std::span<const std::byte> input, Limits limits) {
  const Expected want = Model(input, limits);
  if (want.outcome == Outcome::TooLarge) return {};
  testing_support::MemorySource source(input);
  testing_support::MemorySink sink;
  testing_support::RecordingBar bar;
  Outcome got = Outcome::Done;
  try {
    mapconv::Halve(source, sink, bar, [] {});
  } catch (const mapconv::EShortRead&) {
    got = Outcome::ShortRead;
  } catch (const mapconv::EFormatError& e) {
    if (*e.reason() == '\0') return "a format error without a reason";
    got = Outcome::FormatError;
  } catch (const mapconv::EForceBreak& e) {
    return std::string("unexpected break: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("unexpected failure: ") + e.what();
  }
  if (got != want.outcome) return std::string("ended in ") + Name(got) + ", expected " + Name(want.outcome);
  if (got != Outcome::Done) return {};
  if (sink.data != want.output) return "output differs from the model";
  if (bar.positions.empty() || bar.positions.back() != bar.max) return "bar not full at the end";
  return {};
}

}  // namespace hardening
