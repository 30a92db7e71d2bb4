// Conversions cut short by the machine rather than by a test hook: a real
// file-size limit, as a full disk behaves, and a process killed mid-way. The
// earlier output must survive both, and the next run must clean up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "mapconv/halve_map.h"
#include "mapconv/map_files.h"
#include "tests/hardening/replay.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::Bytes;

// Exit codes of a child that converted under a limit.
constexpr int kWriteError = 10;
constexpr int kOtherBreak = 11;
constexpr int kOtherFailure = 12;

Bytes MakeMap(int width, int height) {
  testing_support::BmpFields layout;
  layout.width = width;
  layout.height = height;
  layout.pixel = [](int x, int y) { return static_cast<std::uint8_t>(x ^ y); };
  return testing_support::MakeBmp(layout);
}

// Converts in a child process whose files may not grow past limit bytes; a
// write beyond it fails with EFBIG instead of killing the child.
int ConvertWithFileSizeLimit(rlim_t limit) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(kOtherFailure);
    hardening::SilentBar bar;
    try {
      mapconv::HalveMap("", bar, [] {});
    } catch (const mapconv::EForceBreak& e) {
      ::_exit(std::strcmp(e.what(), "write file error") == 0 ? kWriteError : kOtherBreak);
    } catch (...) {
      ::_exit(kOtherFailure);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InterruptedRun, DiskFullReportsWriteErrorAndKeepsEarlierOutput) {
  testing_support::TempFolder folder;
  const Bytes input = MakeMap(3000, 1500);  // output about 1.1 MiB, two writes
  testing_support::WriteAll(mapconv::InputFileName(""), input);
  const Bytes previous(5000, std::byte{0x5A});
  testing_support::WriteAll(mapconv::OutputFileName(""), previous);
  const auto names = folder.Names();
  const auto outputSize = hardening::Model(input).output.size();

  // Nothing fits; the header fits but no row; the limit in the last write.
  for (rlim_t limit : {rlim_t{0}, rlim_t{1078}, rlim_t{outputSize - 1}}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    EXPECT_EQ(ConvertWithFileSizeLimit(limit), kWriteError);
    EXPECT_EQ(testing_support::ReadAll(mapconv::OutputFileName("")), previous);
    EXPECT_EQ(folder.Names(), names);
  }
  // With room enough the same conversion goes through.
  EXPECT_EQ(ConvertWithFileSizeLimit(outputSize), 0);
  EXPECT_EQ(testing_support::ReadAll(mapconv::OutputFileName("")), hardening::Model(input).output);
}

// Starts a conversion in a child that stops for good before input row
// `stallRow`, and kills it there with SIGKILL.
void KillConversionAtRow(int stallRow) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    hardening::SilentBar bar;
    int checks = 0;
    try {
      mapconv::HalveMap("", bar, [&] {
        if (++checks <= stallRow) return;
        (void)!::write(ready[1], "x", 1);
        for (;;) ::pause();
      });
    } catch (...) {
    }
    ::_exit(1);  // reaching here means the stall never came
  }
  ::close(ready[1]);
  char byte = 0;
  const bool stalled = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(stalled) << "the child ended before the stall";
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(InterruptedRun, KilledConversionLeavesEarlierOutputAndNextRunCleansUp) {
  testing_support::TempFolder folder;
  const Bytes input = MakeMap(4096, 2048);
  const auto input_path = mapconv::InputFileName("");
  const auto output = mapconv::OutputFileName("");
  // The killed run's own scratch file, whatever its name.
  const auto scratch = [&] {
    for (const auto& name : folder.Names()) {
      if (name.ends_with(".tmp")) return folder / name;
    }
    return folder / "none.tmp";
  };
  testing_support::WriteAll(input_path, input);
  const Bytes previous(4096, std::byte{0x33});
  testing_support::WriteAll(output, previous);

  KillConversionAtRow(1500);  // past the first full write of output rows
  EXPECT_EQ(testing_support::ReadAll(output), previous);
  ASSERT_TRUE(std::filesystem::exists(scratch())) << "the kill should leave a half-written scratch file";
  EXPECT_GT(std::filesystem::file_size(scratch()), 1078u);

  // A run that cannot open its input leaves it; no live run holds it, so the
  // next one that gets as far as making its own removes it.
  const auto away = folder / "elsewhere.bmp";
  std::filesystem::rename(input_path, away);
  hardening::SilentBar bar;
  try {
    mapconv::HalveMap("", bar, [] {});
    ADD_FAILURE() << "converted without an input";
  } catch (const mapconv::EForceBreak& e) {
    EXPECT_STREQ(e.what(), "file open error");
  }
  EXPECT_TRUE(std::filesystem::exists(scratch()));
  EXPECT_EQ(testing_support::ReadAll(output), previous);

  // A second kill, then a complete run: the result is whole and alone, both
  // left-overs gone.
  std::filesystem::rename(away, input_path);
  KillConversionAtRow(3);
  ASSERT_TRUE(std::filesystem::exists(scratch()));
  mapconv::HalveMap("", bar, [] {});
  EXPECT_FALSE(std::filesystem::exists(scratch()));
  EXPECT_EQ(testing_support::ReadAll(output), hardening::Model(input).output);
}

}  // namespace
