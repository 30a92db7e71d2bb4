// Every kept input, seeds and anything the fuzzer once found, converted in
// memory and held to the model of the format.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/hardening/replay.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/needs.h"

namespace {

TEST(CorpusReplay, EveryKeptInputAgreesWithTheModel) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(HALFMAP_CORPUS_DIR)) {
    SCOPED_TRACE(entry.path().filename().string());
    const auto input = testing_support::ReadAll(entry.path());
    EXPECT_EQ(hardening::Replay(input), "");
    ++replayed;
  }
  // The seeds alone are more than a dozen; an empty folder would prove nothing.
  EXPECT_GE(replayed, 12);
}

// The outside suite's questionable and bad bitmaps, held to the model byte
// for byte: the run-length ones above all, which no other reader at hand
// reads as common readers do.
TEST(CorpusReplay, OutsideBitmapsAgreeWithTheModel) {
  const std::filesystem::path suite = BMPSUITE_DIR;
  HALFMAP_NEEDS(std::filesystem::is_directory(suite), "no bitmap suite at " << suite);
  int replayed = 0;
  for (const char* set : {"q", "b"}) {
    for (const auto& entry : std::filesystem::directory_iterator(suite / set)) {
      SCOPED_TRACE(entry.path().string());
      EXPECT_EQ(hardening::Replay(testing_support::ReadAll(entry.path())), "");
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 50);
}

// The model itself, on the cases whose bytes are easy to spell out, so a
// fault shared by the model and the conversion cannot pass unseen.
TEST(CorpusReplay, ModelKeepsEvenColumnsOfOddRows) {
  testing_support::BmpFields layout;
  layout.width = 5;
  layout.height = 3;
  const auto input = testing_support::MakeBmp(layout);
  const auto want = hardening::Model(input);
  ASSERT_EQ(want.outcome, hardening::Outcome::Done);
  ASSERT_EQ(want.output.size(), 1078u + 4u);
  EXPECT_EQ(testing_support::U32At(want.output, 2), 1082u);
  EXPECT_EQ(testing_support::I32At(want.output, 18), 2);
  EXPECT_EQ(testing_support::I32At(want.output, 22), 1);
  const std::byte row[] = {std::byte(0 * 16 + 1), std::byte(2 * 16 + 1), std::byte{0}, std::byte{0}};
  EXPECT_TRUE(std::equal(std::begin(row), std::end(row), want.output.begin() + 1078));

  auto cut = input;
  cut.pop_back();  // the last byte is filler of row 2, which is never read
  EXPECT_EQ(hardening::Model(cut).outcome, hardening::Outcome::Done);
  cut.resize(1078 + 8 + 7);  // row 1 lacks its last filler byte
  EXPECT_EQ(hardening::Model(cut).outcome, hardening::Outcome::ShortRead);
  layout.bitCount = 7;
  EXPECT_EQ(hardening::Model(testing_support::MakeBmp(layout)).outcome, hardening::Outcome::FormatError);
}

}  // namespace
