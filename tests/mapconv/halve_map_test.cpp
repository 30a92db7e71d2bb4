#include "mapconv/halve_map.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <thread>

#include "mapconv/block_source.h"
#include "mapconv/map_files.h"
#include "mapconv/room_needed.h"
#include "mapconv/test_hooks.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/recording_bar.h"
#include "tests/support/needs.h"

namespace {

using testing_support::BmpFields;
using testing_support::Bytes;
using testing_support::MakeBmp;
using testing_support::OpenFileCount;
using testing_support::ReadAll;
using testing_support::RecordingBar;
using testing_support::TempFolder;
using testing_support::WriteAll;

const Bytes kOldOutput = {std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};

// A descriptor holding an exclusive lock, as another careful program would.
class Locker {
 public:
  explicit Locker(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
  }
  ~Locker() { ::close(fd_); }

 private:
  int fd_;
};

class HalveMapTest : public ::testing::Test {
 protected:
  std::filesystem::path Input(std::string_view suffix = "") { return mapconv::InputFileName(suffix); }
  std::filesystem::path Output(std::string_view suffix = "") { return mapconv::OutputFileName(suffix); }

  Bytes PutInput(int width = 10, int height = 12, std::string_view suffix = "") {
    BmpFields bmp;
    bmp.width = width;
    bmp.height = height;
    Bytes bytes = MakeBmp(bmp);
    WriteAll(Input(suffix), bytes);
    return bytes;
  }

  // The message of the EForceBreak a conversion ends with, or "" if none.
  std::string Run(std::string_view suffix = "", std::function<void()> check = [] {}) {
    try {
      mapconv::HalveMap(suffix, bar_, check);
    } catch (const mapconv::EForceBreak& e) {
      return e.what();
    }
    return "";
  }

  // What a failed conversion must leave: the inputs and any old output as
  // they were, and nothing else.
  void ExpectUntouched(const std::vector<std::string>& names) {
    EXPECT_EQ(folder_.Names(), names);
    EXPECT_EQ(OpenFileCount(), openBefore_);
  }

  TempFolder folder_;
  RecordingBar bar_;
  int openBefore_ = OpenFileCount();
};

TEST_F(HalveMapTest, WritesTheHalfScaleMapAndLeavesNothingElse) {
  const Bytes in = PutInput(10, 12, "NS");
  ASSERT_EQ(Run("NS"), "");
  const Bytes out = ReadAll(Output("NS"));
  EXPECT_EQ(out.size(), 1078u + 6 * 8);
  EXPECT_EQ(out[1078], in[1078 + 12]);  // row 1, column 0
  EXPECT_EQ(ReadAll(Input("NS")), in);
  ExpectUntouched({"MAP29361206-NS1.BMP", "MAP29361206-NS2.BMP"});
}

TEST_F(HalveMapTest, ReplacesAnEarlierOutputAndAStaleScratchFile) {
  PutInput();
  WriteAll(Output(), kOldOutput);
  WriteAll(mapconv::ScratchFileName(""), kOldOutput);
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(ReadAll(Output()).size(), 1078u + 6 * 8);
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});

  // With no output, a file of that name is the user's own and stays; so does
  // one that is the input, and anything but a regular file.
  std::filesystem::remove(Output());
  WriteAll(mapconv::ScratchFileName(""), kOldOutput);
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(ReadAll(mapconv::ScratchFileName("")), kOldOutput);
  std::filesystem::remove(mapconv::ScratchFileName(""));
  std::filesystem::create_hard_link(Input(), mapconv::ScratchFileName(""));
  ASSERT_EQ(Run(), "");
  std::filesystem::remove(mapconv::ScratchFileName(""));
  std::filesystem::create_directory(mapconv::ScratchFileName(""));
  ASSERT_EQ(Run(), "");
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP", "MAP29361206-2.BMP.tmp"});
}

TEST_F(HalveMapTest, AnAbortKeepsTheEarlierOutputWhole) {
  PutInput();
  WriteAll(Output(), kOldOutput);
  for (int abortAt : {1, 2, 7}) {  // before reading, at row 0, mid-map
    int checks = 0;
    EXPECT_EQ(Run("", [&] { if (++checks == abortAt) throw mapconv::EForceBreak("中断しました"); }),
              "中断しました");
    EXPECT_EQ(ReadAll(Output()), kOldOutput);
    ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});
  }
}

TEST_F(HalveMapTest, OtherFoldersAndNamedFilesConvertAsTheAppFolderDoes) {
  PutInput(37, 23);
  ASSERT_EQ(Run(), "");
  const Bytes expected = ReadAll(Output());

  // Each thread converts a folder of its own, and one more a named file.
  const std::filesystem::path other = folder_ / "others";
  std::vector<std::filesystem::path> folders;
  for (int i = 0; i < 4; ++i) {
    folders.push_back(other / std::to_string(i));
    std::filesystem::create_directories(folders.back());
    std::filesystem::copy_file(Input(), mapconv::InputFileName(folders.back(), ""));
  }
  std::vector<std::thread> threads;
  for (const auto& folder : folders) {
    threads.emplace_back([&folder] {
      RecordingBar bar;
      mapconv::HalveMapIn(folder, "", bar, [] {});
    });
  }
  RecordingBar bar;
  mapconv::HalveFile(Input(), other / "named.bmp", bar, [] {});
  for (auto& thread : threads) thread.join();

  for (const auto& folder : folders) EXPECT_EQ(ReadAll(mapconv::OutputFileName(folder, "")), expected);
  EXPECT_EQ(ReadAll(other / "named.bmp"), expected);
  EXPECT_FALSE(std::filesystem::exists(other / "named.bmp.tmp"));
}

TEST_F(HalveMapTest, InputsThatCannotBeOpenedEndWithFileOpenError) {
  WriteAll(Output(), kOldOutput);
  EXPECT_EQ(Run(), "file open error");  // missing
  PutInput();
  {
    Locker other(Input());
    EXPECT_EQ(Run(), "file open error");
  }
  EXPECT_EQ(ReadAll(Output()), kOldOutput);
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});
}

TEST_F(HalveMapTest, ShortInputsEndWithReadFileErrorAndNoOutput) {
  const Bytes whole = PutInput(8, 8);
  WriteAll(Input(), Bytes(whole.begin(), whole.begin() + 1077));
  EXPECT_EQ(Run(), "read file error");
  ExpectUntouched({"MAP29361206-1.BMP"});

  WriteAll(Input(), Bytes(whole.begin(), whole.begin() + 1078 + 8 * 5));
  WriteAll(Output(), kOldOutput);
  EXPECT_EQ(Run(), "read file error");
  EXPECT_EQ(ReadAll(Output()), kOldOutput);
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});
}

// The fault hook is a plain function, so its count lives here.
int gReads = 0;
bool CountReads(mapconv::hooks::Op op) {
  if (op == mapconv::hooks::Op::Read) ++gReads;
  return false;
}

// Reads come in blocks; a map of a little over two, its last row even and
// never needed, cut at and beside the block boundaries.
TEST_F(HalveMapTest, MapsCutAtReadBlockBoundariesEndAsRowByRowReadingDoes) {
  const Bytes whole = PutInput(1000, 2101);
  gReads = 0;
  mapconv::hooks::SetFaultHook(CountReads);
  const std::string complete = Run();
  mapconv::hooks::SetFaultHook(nullptr);
  ASSERT_EQ(complete, "");
  EXPECT_LE(gReads, 4);  // not one per row
  const Bytes expected = ReadAll(Output());

  const std::size_t block = mapconv::kReadBlockSize;
  const std::size_t needed = whole.size() - 1000;
  auto cutTo = [&](std::size_t length) {
    WriteAll(Input(), Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
  };
  for (std::size_t length : {block - 1, block, block + 1, 2 * block - 1, 2 * block, 2 * block + 1, needed - 1}) {
    SCOPED_TRACE(length);
    cutTo(length);
    EXPECT_EQ(Run(), "read file error");
    EXPECT_EQ(ReadAll(Output()), expected);
  }
  for (std::size_t length : {needed, needed + 1}) {
    std::filesystem::remove(Output());
    cutTo(length);
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(ReadAll(Output()), expected);
  }

  // An abort deep in the second block is still taken at the next row.
  bar_.positions.clear();
  int checks = 0;
  EXPECT_EQ(Run("", [&] { if (++checks == 1500) throw mapconv::EForceBreak("中断しました"); }), "中断しました");
  EXPECT_EQ(bar_.positions.back(), 1497);  // rows 0 to 1497 done, none after
  EXPECT_EQ(ReadAll(Output()), expected);
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});
}

TEST_F(HalveMapTest, ForeignBitmapsEndWithBitmapFormatError) {
  BmpFields bmp;
  bmp.bitCount = 7;
  WriteAll(Input(), MakeBmp(bmp));
  EXPECT_EQ(Run(), "bitmap format error");
  ExpectUntouched({"MAP29361206-1.BMP"});

  // A run-length stream found broken only after the output has begun.
  bmp.bitCount = 8;
  bmp.compression = 1;
  bmp.height = 6;
  Bytes broken = MakeBmp(bmp);
  broken.resize(broken.size() - 4);  // row 5's end-of-line and the end
  const Bytes tail = {std::byte{0}, std::byte{2}, std::byte{9}, std::byte{0}};  // a move past the row's end
  broken.insert(broken.end(), tail.begin(), tail.end());
  WriteAll(Input(), broken);
  WriteAll(Output(), kOldOutput);
  EXPECT_EQ(Run(), "bitmap format error");
  EXPECT_EQ(ReadAll(Output()), kOldOutput);
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});
}

TEST_F(HalveMapTest, AnOutputThatCannotBeReplacedIsACreateFailureBeforeAnyWork) {
  PutInput();
  WriteAll(Output(), kOldOutput);
  const std::string expected = "ファイル " + Output().string() + " を作成できません";
  int checks = 0;
  auto counting = [&] { ++checks; };

  {
    Locker other(Output());
    try {
      mapconv::HalveMap("", bar_, counting);
      ADD_FAILURE() << "replaced a locked output";
    } catch (const mapconv::ECreateFailure& e) {
      EXPECT_EQ(e.what(), expected);
      EXPECT_EQ(e.code(), mapconv::FileError::InUse);  // once the wait for it is over
    }
  }
  // Read-only by its mode bits, which count even for root.
  std::filesystem::permissions(Output(), std::filesystem::perms::owner_read |
                                             std::filesystem::perms::group_read);
  EXPECT_THROW(mapconv::HalveMap("", bar_, counting), mapconv::ECreateFailure);

  EXPECT_EQ(checks, 0);
  EXPECT_TRUE(bar_.positions.empty());
  EXPECT_EQ(ReadAll(Output()), kOldOutput);
  ExpectUntouched({"MAP29361206-1.BMP", "MAP29361206-2.BMP"});
  // The input was released: it can be taken exclusively again.
  Locker after(Input());
}

// The margin on a file system too large to fill in a test, and sizes whose
// sums and products do not fit.
TEST(RoomNeeded, KeepsTheSmallerMarginAndSaturates) {
  constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kGiB = std::int64_t{1} << 30;
  EXPECT_EQ(mapconv::RoomNeeded(1000, 20 * kGiB - 20), 1000 + kGiB - 1);
  EXPECT_EQ(mapconv::RoomNeeded(1000, 20 * kGiB + 20), 1000 + kGiB);
  EXPECT_EQ(mapconv::RoomNeeded(kMost - 5, 1 << 20), kMost);
  EXPECT_EQ(mapconv::BytesOf(std::uint64_t{1} << 40, std::uint64_t{1} << 30), kMost);
  EXPECT_EQ(mapconv::BytesOf(std::uint64_t{1} << 62, 2), kMost);
  EXPECT_EQ(mapconv::BytesOf(3, 4096), 12288);
}

TEST_F(HalveMapTest, AnInputSpelledInLowerCaseIsConvertedToTheExactName) {
  BmpFields bmp;
  WriteAll(folder_ / "map29361206-x1.bmp", MakeBmp(bmp));
  EXPECT_TRUE(mapconv::present(Input("X")));
  ASSERT_EQ(Run("X"), "");
  ExpectUntouched({"MAP29361206-X2.BMP", "map29361206-x1.bmp"});

  // The calls that tell what they did name the file found, and give both
  // sizes with the height's sign dropped, for a conversion and a check alike.
  bmp.width = 37;
  bmp.height = -23;
  WriteAll(folder_ / "map29361206-x1.bmp", MakeBmp(bmp));
  RecordingBar bar;
  const mapconv::Converted converted = mapconv::ConvertFolderMap(Input("X"), Output("X"), bar, [] {});
  const mapconv::Compared compared = mapconv::CompareFile(Input("X"), Output("X"), bar, [] {});
  EXPECT_FALSE(compared.difference);
  for (const mapconv::Converted& told : {converted, compared.map}) {
    EXPECT_EQ(told.input.filename(), "map29361206-x1.bmp");
    EXPECT_EQ(told.in.width, 37);
    EXPECT_EQ(told.in.height, 23);
    EXPECT_EQ(told.out.width, 18);
    EXPECT_EQ(told.out.height, 11);
  }
}

TEST_F(HalveMapTest, OtherFailuresPassThroughUntranslatedAndLeaveNothing) {
  PutInput();
  bar_.min = -10;  // a bar whose range refuses a minimum of 0
  bar_.max = -5;
  EXPECT_THROW(Run(), mapconv::EInvalidOperation);
  ExpectUntouched({"MAP29361206-1.BMP"});
}

}  // namespace

namespace {

// Every outside bitmap either converts or is refused with one of the
// status-bar messages, and a reason for a format error, leaving no file
// behind; every map of the good set converts. The decoder oracle test checks what the converted ones hold;
// here the maps in the original layout are checked byte by byte.
TEST(HalveMapSuite, OutsideBitmapsConvertOrAreRefusedCleanly) {
  const std::filesystem::path suite = BMPSUITE_DIR;
  HALFMAP_NEEDS(std::filesystem::is_directory(suite), "no bitmap suite at " << suite);
  int good = 0;
  int refused = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(suite)) {
    if (entry.path().extension() != ".bmp") continue;
    SCOPED_TRACE(entry.path().string());
    TempFolder folder;
    const Bytes in = ReadAll(entry.path());
    WriteAll(mapconv::InputFileName(""), in);
    const bool mustConvert = entry.path().parent_path().filename() == "g";
    RecordingBar bar;
    try {
      mapconv::HalveMap("", bar, [] {});
    } catch (const mapconv::EForceBreak& e) {
      const auto* format = dynamic_cast<const mapconv::EFormatError*>(&e);
      EXPECT_TRUE(format ? *format->reason() != '\0' : std::string(e.what()) == "read file error") << e.what();
      EXPECT_EQ(folder.Names(), std::vector<std::string>{"MAP29361206-1.BMP"});
      EXPECT_FALSE(mustConvert) << "refused a good map";
      ++refused;
      continue;
    }
    good += mustConvert;
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"MAP29361206-1.BMP", "MAP29361206-2.BMP"}));
    const bool original = testing_support::U32At(in, 10) == 1078 && testing_support::U32At(in, 14) == 40 &&
                          testing_support::U32At(in, 28) == 8 && testing_support::U32At(in, 30) == 0;
    if (!original) continue;
    const Bytes out = ReadAll(mapconv::OutputFileName(""));
    const std::int32_t width = testing_support::I32At(in, 18);
    const std::int32_t height = testing_support::I32At(in, 22);
    const std::int64_t inStride = (width + 3) / 4 * 4;
    const std::int64_t outStride = (width / 2 + 3) / 4 * 4;
    ASSERT_EQ(static_cast<std::int64_t>(out.size()), 1078 + outStride * std::abs(height / 2));
    for (std::int64_t j = 0; j < std::abs(height / 2); ++j) {
      for (std::int64_t x = 0; x < width / 2; ++x) {
        ASSERT_EQ(out[1078 + j * outStride + x], in[1078 + (2 * j + 1) * inStride + 2 * x]);
      }
    }
  }
  EXPECT_EQ(good, 27);
  EXPECT_GE(refused, 10);  // every bad header, every compression not read
}

}  // namespace
