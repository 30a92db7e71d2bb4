#include "mapconv/block_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mapconv/errors.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/memory_io.h"
#include "tests/support/recording_bar.h"

namespace {

namespace fs = mapconv::fs;
using testing_support::Bytes;
using testing_support::TempFolder;

fs::File PutFile(const TempFolder& folder, const Bytes& bytes) {
  testing_support::WriteAll(folder / "in", bytes);
  return fs::OpenForReading(folder / "in");
}

TEST(BlockSource, DeliversWhatTheFileHoldsAndFailsOnlyForBytesItLacks) {
  Bytes file(100);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = std::byte(i);
  TempFolder folder;
  const fs::File in = PutFile(folder, file);
  mapconv::BlockSource source(in, 16);
  // Every offset and size, sizes past the block included; in this order the
  // block is met full, partly used, cut by the end of the file and missed.
  for (std::int64_t offset = 0; offset <= 102; ++offset) {
    for (std::size_t size = 0; size <= 40; ++size) {
      SCOPED_TRACE(std::to_string(offset) + " + " + std::to_string(size));
      Bytes got(size);
      if (size > 0 && offset + static_cast<std::int64_t>(size) > 100) {
        EXPECT_THROW(source.ReadAt(offset, got), mapconv::EShortRead);
        continue;
      }
      ASSERT_NO_THROW(source.ReadAt(offset, got));
      EXPECT_TRUE(std::equal(got.begin(), got.end(), file.begin() + offset));
      Bytes spare(size);  // a view lent from the block, or spare itself
      const auto view = source.View(offset, spare);
      EXPECT_TRUE(std::equal(view.begin(), view.end(), file.begin() + offset) && view.size() == size);
    }
  }
  Bytes one(1);
  EXPECT_THROW(source.ReadAt(-1, one), mapconv::EShortRead);
}

struct Outcome {
  bool shortRead = false;
  Bytes out;
  int checks = 0;
  std::vector<int> positions;
  bool operator==(const Outcome&) const = default;
};

Outcome Convert(mapconv::ByteSource& source) {
  Outcome outcome;
  testing_support::MemorySink sink;
  testing_support::RecordingBar bar;
  try {
    mapconv::Halve(source, sink, bar, [&] { ++outcome.checks; });
  } catch (const mapconv::EShortRead&) {
    outcome.shortRead = true;
  }
  outcome.out = sink.data;
  outcome.positions = bar.positions;
  return outcome;
}

// A map cut at every length ends through block reads exactly as through
// exact reads of each row: the same output, checks and bar positions, and a
// short read where, and only where, a row it needs is not whole.
TEST(BlockSource, CutMapsEndAsRowByRowReadingDoes) {
  testing_support::BmpFields bmp;
  bmp.width = 6;   // rows of 8 bytes
  bmp.height = 7;  // the last row is even and never read
  const Bytes whole = testing_support::MakeBmp(bmp);
  TempFolder folder;
  int converted = 0;
  for (std::size_t length = 1070; length <= whole.size(); ++length) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    testing_support::MemorySource exact(cut);
    const Outcome expected = Convert(exact);
    converted += expected.shortRead ? 0 : 1;
    const fs::File in = PutFile(folder, cut);
    for (std::size_t block : {5, 8, 12, 64, 4096}) {
      SCOPED_TRACE("length " + std::to_string(length) + ", block " + std::to_string(block));
      mapconv::BlockSource blocks(in, block);
      EXPECT_EQ(Convert(blocks), expected);
    }
  }
  EXPECT_EQ(converted, 9);  // the whole map, and all cuts inside its last row
}

}  // namespace
