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

constexpr std::int64_t kPrefix = 1078;

std::uint32_t U32(std::span<const std::byte> b, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 4; i-- > 0;) v = v << 8 | std::to_integer<std::uint32_t>(b[at + i]);
  return v;
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = std::byte(v >> (8 * i));
}

bool Readable(std::span<const std::byte> in) {
  return in[0] == std::byte{'B'} && in[1] == std::byte{'M'} && (U32(in, 28) & 0xFFFF) == 8 &&
         U32(in, 30) == 0 && U32(in, 10) == kPrefix && static_cast<std::int32_t>(U32(in, 18)) > 0;
}

const char* Name(Outcome outcome) {
  switch (outcome) {
    case Outcome::Done: return "done";
    case Outcome::ShortRead: return "short read";
    case Outcome::FormatError: return "format error";
  }
  return "?";
}

}  // namespace

Expected Model(std::span<const std::byte> in) {
  if (in.size() < static_cast<std::size_t>(kPrefix)) return {Outcome::ShortRead, {}};
  if (!Readable(in)) return {Outcome::FormatError, {}};
  const std::int64_t w = static_cast<std::int32_t>(U32(in, 18));
  const std::int64_t h = static_cast<std::int32_t>(U32(in, 22));
  const std::int64_t rows = h < 0 ? -h : h, stride = (w + 3) / 4 * 4;
  const std::int64_t w2 = w / 2, h2 = h / 2, outRows = rows / 2;
  const std::int64_t outStride = (w2 + 3) / 4 * 4;
  // Every odd row must be there in full, its filler included.
  if (outRows > 0 && kPrefix + 2 * outRows * stride > static_cast<std::int64_t>(in.size())) {
    return {Outcome::ShortRead, {}};
  }
  Bytes out(in.begin(), in.begin() + kPrefix);
  PutU32(out, 2, static_cast<std::uint32_t>(kPrefix + outStride * outRows));
  PutU32(out, 18, static_cast<std::uint32_t>(w2));
  PutU32(out, 22, static_cast<std::uint32_t>(h2));
  for (std::int64_t j = 0; j < outRows; ++j) {
    const std::int64_t row = kPrefix + (2 * j + 1) * stride;
    for (std::int64_t x = 0; x < outStride; ++x) {
      out.push_back(x < w2 ? in[static_cast<std::size_t>(row + 2 * x)] : std::byte{0});
    }
  }
  return {Outcome::Done, std::move(out)};
}

std::string Replay(std::span<const std::byte> input) {
  testing_support::MemorySource source(input);
  testing_support::MemorySink sink;
  testing_support::RecordingBar bar;
  Outcome got = Outcome::Done;
  try {
    mapconv::Halve(source, sink, bar, [] {});
  } catch (const mapconv::EShortRead&) {
    got = Outcome::ShortRead;
  } catch (const mapconv::EForceBreak& e) {
    if (std::string(e.what()) != "bitmap format error") return std::string("unexpected break: ") + e.what();
    got = Outcome::FormatError;
  } catch (const std::exception& e) {
    return std::string("unexpected failure: ") + e.what();
  }
  const Expected want = Model(input);
  if (got != want.outcome) return std::string("ended in ") + Name(got) + ", expected " + Name(want.outcome);
  if (got != Outcome::Done) return {};
  if (sink.data != want.output) return "output differs from the model";
  if (bar.positions.empty() || bar.positions.back() != bar.max) return "bar not full at the end";
  return {};
}

}  // namespace hardening
