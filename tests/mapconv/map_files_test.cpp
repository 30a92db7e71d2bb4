#include "mapconv/map_files.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <memory>

#include "tests/support/bmp_builder.h"

namespace {

using testing_support::TempFolder;
using testing_support::WriteAll;

void Touch(const std::filesystem::path& path) { WriteAll(path, {std::byte{1}}); }

// Sets a file's last-write time to local midnight of the given day.
void SetDate(const std::filesystem::path& path, int year, int month, int day) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  const timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST(MapFiles, NamesAreBuiltBesideTheExecutable) {
  TempFolder folder;
  const std::string base = folder.path().string() + "/MAP29361206-";
  EXPECT_EQ(mapconv::Suffix(mapconv::MapVariant::Normal), "");
  EXPECT_EQ(mapconv::Suffix(mapconv::MapVariant::NoFixed), "NS");
  EXPECT_EQ(mapconv::Suffix(mapconv::MapVariant::XRay), "X");
  EXPECT_EQ(mapconv::InputFileName("NS").string(), base + "NS1.BMP");
  EXPECT_EQ(mapconv::OutputFileName("X").string(), base + "X2.BMP");
  // The conversion always writes beside the output first.
  EXPECT_EQ(mapconv::ScratchFileName("").string(), base + "2.BMP.tmp");
  Touch(mapconv::OutputFileName(""));
  EXPECT_EQ(mapconv::ScratchFileName("").string(), base + "2.BMP.tmp");
}

TEST(MapFiles, NamesInAnyFolderGainASeparatorOnlyWhereTheyLackOne) {
  EXPECT_EQ(mapconv::InputFileName("maps", "NS").string(), "maps/MAP29361206-NS1.BMP");
  EXPECT_EQ(mapconv::OutputFileName("maps/", "X").string(), "maps/MAP29361206-X2.BMP");
  EXPECT_EQ(mapconv::ScratchFileName("", "").string(), "MAP29361206-2.BMP.tmp");
  EXPECT_EQ(mapconv::ScratchFileFor("out/small.bmp").string(), "out/small.bmp.tmp");
}

TEST(MapFiles, PresenceNeedsARegularFileOfAnyDate) {
  TempFolder folder;
  const auto file = folder / "MAP29361206-1.BMP";
  EXPECT_FALSE(mapconv::present(file));
  Touch(file);
  EXPECT_TRUE(mapconv::present(file));
  for (int year : {1970, 1979, 2107, 2108}) {
    SetDate(file, year, 1, 1);
    EXPECT_TRUE(mapconv::present(file)) << year;
  }
  std::filesystem::create_symlink(file.filename(), folder / "MAP29361206-1.lnk");
  EXPECT_TRUE(mapconv::present(folder / "MAP29361206-1.lnk"));

  const auto dir = folder / "MAP29361206-NS1.BMP";
  std::filesystem::create_directory(dir);
  EXPECT_FALSE(mapconv::present(dir));
  const auto pipe = folder / "MAP29361206-X1.BMP";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_FALSE(mapconv::present(pipe));
  EXPECT_FALSE(mapconv::present(folder / "missing" / "MAP29361206-1.BMP"));
}

TEST(MapFiles, PresenceIgnoresCaseOnlyWhenTheExactNameIsMissing) {
  TempFolder folder;
  Touch(folder / "Map29361206-ns1.bmp");
  EXPECT_TRUE(mapconv::present(folder / "MAP29361206-NS1.BMP"));
  EXPECT_FALSE(mapconv::present(folder / "MAP29361206-NS1.BMP.tmp"));
  // A directory under the exact name hides a file spelled otherwise.
  std::filesystem::create_directory(folder / "MAP29361206-X1.BMP");
  Touch(folder / "map29361206-x1.bmp");
  EXPECT_FALSE(mapconv::present(folder / "MAP29361206-X1.BMP"));
}

std::string RunProbe(const std::filesystem::path& exe) {
  const std::string command = "cd / && '" + exe.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string out;
  std::array<char, 256> buffer;
  while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get())) out += buffer.data();
  return out;
}

TEST(MapFiles, TheExecutablesOwnFolderCountsNotTheCurrentOne) {
  // 表 ends in byte 0x5C in the old Japanese code page, the separator's byte.
  TempFolder folder("-表示マップ");
  const auto exe = folder / "app_folder_probe";
  std::filesystem::copy_file(APP_FOLDER_PROBE, exe);
  Touch(folder / "MAP29361206-X1.BMP");
  EXPECT_EQ(RunProbe(exe), folder.path().string() + "/\n001\n");
}

}  // namespace
