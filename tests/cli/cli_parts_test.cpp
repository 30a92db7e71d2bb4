// The pieces of halfmap-cli on their own: argument parsing, job order,
// report lines, escapes, messages, bitmap sizes and the terminal progress
// text.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "app/cli/escape.h"
#include "app/cli/job_queue.h"
#include "app/cli/messages.h"
#include "app/cli/options.h"
#include "app/cli/progress_view.h"
#include "app/cli/report.h"
#include "mapconv/errors.h"
#include "tests/support/bmp_builder.h"

namespace {

namespace cli = halfmap::cli;
using testing_support::BmpFields;
using testing_support::MakeBmp;
using testing_support::TempFolder;
using testing_support::WriteAll;

cli::Options Parse(std::vector<std::filesystem::path> args) { return cli::ParseArguments(args); }

TEST(CliOptions, AcceptsEachFormOfTheOptions) {
  EXPECT_EQ(Parse({}).jobs, 1);
  EXPECT_TRUE(Parse({}).inputs.empty());
  for (const auto& args : std::vector<std::vector<std::filesystem::path>>{
           {"-j", "3", "a", "b"}, {"-j3", "a", "b"}, {"--jobs", "3", "a", "b"}, {"a", "--jobs=3", "b"}}) {
    const cli::Options options = Parse(args);
    EXPECT_EQ(options.jobs, 3);
    EXPECT_EQ(options.inputs, (std::vector<std::filesystem::path>{"a", "b"}));
  }
  const cli::Options one = Parse({"-q", "--json", "-o", "out.bmp", "in.bmp"});
  EXPECT_TRUE(one.quiet && one.json);
  EXPECT_EQ(one.output, std::filesystem::path("out.bmp"));
  EXPECT_EQ(one.inputs, std::vector<std::filesystem::path>{"in.bmp"});
  EXPECT_EQ(Parse({"--", "-q", "地図"}).inputs, (std::vector<std::filesystem::path>{"-q", "地図"}));
  const cli::Options watch = Parse({"--changed", "--watch", "a"});
  EXPECT_TRUE(watch.changed && watch.watch && !watch.verify);
  EXPECT_TRUE(Parse({"--verify"}).verify);
  EXPECT_EQ(Parse({"a", "--help"}).mode, cli::Mode::Help);
  EXPECT_EQ(Parse({"--version"}).mode, cli::Mode::Version);
}

TEST(CliOptions, RefusesWhatCannotBeRun) {
  for (const auto& args : std::vector<std::vector<std::filesystem::path>>{
           {"-x"}, {"--jobs"}, {"-j", "0"}, {"-j", "65"}, {"-j", "2x"}, {"-j", ""}, {"-o", "out.bmp"},
           {"-o", "out.bmp", "a", "b"}, {"-j", "2", "-o", "out.bmp", "in.bmp"}, {"--verify", "--changed"},
           {"--watch", "--verify"}}) {
    EXPECT_THROW(Parse(args), cli::UsageError) << args[0];
  }
}

TEST(CliOptions, AnOptionOneSlipAwayIsNamed) {
  // A letter left out, one too many, one wrong, two swapped; two slips are no guess.
  for (const auto& [given, named] : std::initializer_list<std::pair<std::string, std::string>>{
           {"--verfy", "--verify"}, {"--quieet", "--quiet"}, {"--jsom", "--json"}, {"--cahnged", "--changed"},
           {"-watch", "--watch"}, {"--job", "--jobs"}, {"--vrefiy", ""}}) {
    const std::string said = "unknown option '" + given + "'" + (named.empty() ? "" : "; did you mean '" + named + "'?");
    try {
      Parse({given});
      ADD_FAILURE() << given << " taken";
    } catch (const cli::UsageError& e) {
      EXPECT_EQ(e.what(), said);
    }
  }
}

TEST(CliJobs, FinishesInIndexOrderAndStartsNothingAfterAStop) {
  // Job 0 waits until job 3 has run, so completion order differs from index order.
  std::atomic<bool> threeRan{false};
  std::atomic<bool> stop{false};
  std::vector<std::size_t> finished;
  cli::JobCallbacks callbacks;
  // Jobs after 5 wait for its stop, so the two other workers hold one each at most.
  callbacks.run = [&](std::size_t i) {
    while ((i == 0 && !threeRan) || (i > 5 && !stop)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (i == 3) threeRan = true;
    if (i == 5) stop = true;
  };
  callbacks.finish = [&](std::size_t i) { finished.push_back(i); };
  callbacks.stop = [&] { return stop.load(); };
  const std::size_t started = cli::RunJobs(20, 3, callbacks);
  ASSERT_GE(started, 6u);
  EXPECT_LE(started, 8u);
  std::vector<std::size_t> expected(started);
  for (std::size_t i = 0; i < started; ++i) expected[i] = i;
  EXPECT_EQ(finished, expected);
}

TEST(CliReport, LinesCarryEveryFieldAndEscapeJson) {
  cli::MapReport report;
  report.input = "maps/MAP29361206-1.BMP";
  report.output = "maps/MAP29361206-2.BMP";
  report.size = cli::Size{37, 23};
  report.outSize = cli::Size{18, 11};
  report.seconds = 0.25;
  EXPECT_EQ(cli::TextLine(report), "maps/MAP29361206-1.BMP -> maps/MAP29361206-2.BMP  37x23 -> 18x11  0.250 s\n");
  EXPECT_EQ(cli::JsonLine(report),
            "{\"input\":\"maps/MAP29361206-1.BMP\",\"output\":\"maps/MAP29361206-2.BMP\","
            "\"status\":\"converted\",\"error\":null,\"width\":37,\"height\":23,"
            "\"out_width\":18,\"out_height\":11,\"seconds\":0.250}\n");

  report.input = "a\"b\\c\n地図";
  report.status = cli::Status::Aborted;
  report.error = "中断しました";
  report.outSize.reset();
  const std::string json = cli::JsonLine(report);
  EXPECT_NE(json.find("\"input\":\"a\\\"b\\\\c\\u000a地図\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"status\":\"aborted\",\"error\":\"中断しました\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"out_width\":null,\"out_height\":null"), std::string::npos) << json;
  EXPECT_EQ(cli::ErrorLine(report), "halfmap-cli: a\"b\\c\\x0a地図: 中断しました\n");
}

TEST(CliReport, NamesAreEscapedForATerminalAndExactForJson) {
  struct Case {
    std::string_view name, printable, json;
  };
  // Hex escapes are split from what follows, which C++ would read on.
  for (const Case& c : std::initializer_list<Case>{
           {"地図/🗺 a\\b\xc2\xa0", "地図/🗺 a\\b\xc2\xa0", "\"地図/🗺 a\\\\b\xc2\xa0\""},
           {"\x1b[2J\a\n\x7f", "\\x1b[2J\\x07\\x0a\\x7f", "\"\\u001b[2J\\u0007\\u000a\\u007f\""},
           {"\xc2\x9b" "C1", "\\xc2\\x9b" "C1", "\"\\u009b" "C1\""},
           {"\xff\xfe" "a\xe5\x9c" "b", "\\xff\\xfe" "a\\xe5\\x9c" "b", "\"\\udcff\\udcfe" "a\\udce5\\udc9c" "b\""},
           // Overlong "/", a surrogate, past U+10FFFF: each byte on its own.
           {"\xc0\xaf", "\\xc0\\xaf", "\"\\udcc0\\udcaf\""},
           {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\"\\udced\\udca0\\udc80\""},
           {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""}}) {
    EXPECT_EQ(cli::Printable(c.name), c.printable) << c.printable;
    EXPECT_EQ(cli::Printable(c.printable), c.printable) << "escapes to itself";
    EXPECT_EQ(cli::JsonString(c.name), c.json) << c.printable;
  }
}

TEST(CliMessages, FailuresTheToolFindsItselfAreInTheUsersLanguage) {
  cli::SetLanguage(cli::Language::Japanese);
  EXPECT_EQ(cli::SystemReason(mapconv::FileError::NotRegularFile), "通常のファイルではありません");
  EXPECT_EQ(cli::SystemReason(mapconv::FileError::InputChanged), "変換中に入力が変更されました");
  EXPECT_EQ(cli::SystemReason(mapconv::FileError::InUse), "ほかのプログラムが使用中です");
  EXPECT_EQ(cli::SystemReason(mapconv::FileError::ForeignLink), "共有フォルダにある他のユーザーのリンクなので、たどりません");
  EXPECT_EQ(cli::SystemReason(std::make_error_code(std::errc::is_a_directory)), "Is a directory");
  cli::SetLanguage(cli::Language::English);
}

TEST(CliReport, SizesComeFromTheHeadersTheConversionReads) {
  TempFolder folder;
  BmpFields bmp;
  bmp.width = 6;
  bmp.height = -4;  // top-down
  WriteAll(folder / "top-down.bmp", MakeBmp(bmp));
  const auto size = mapconv::ReadMapSize(folder / "top-down.bmp");
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 6);
  EXPECT_EQ(size->height, 4);

  BmpFields core;  // 12-byte header: 16-bit dimensions
  core.infoSize = 12;
  core.width = 272;
  core.height = 3;
  WriteAll(folder / "core.bmp", MakeBmp(core));
  const auto coreSize = mapconv::ReadMapSize(folder / "core.bmp");
  ASSERT_TRUE(coreSize);
  EXPECT_EQ(coreSize->width, 272);
  EXPECT_EQ(coreSize->height, 3);

  BmpFields deep;  // a layout the conversion refuses has no size to report
  deep.bitCount = 7;
  WriteAll(folder / "deep.bmp", MakeBmp(deep));
  EXPECT_FALSE(mapconv::ReadMapSize(folder / "deep.bmp"));
  WriteAll(folder / "short.bmp", testing_support::Bytes(20, std::byte{'B'}));
  EXPECT_FALSE(mapconv::ReadMapSize(folder / "short.bmp"));
  EXPECT_FALSE(mapconv::ReadMapSize(folder / "missing.bmp"));
}

TEST(CliProgress, RedrawsInPlaceAndFitsTheTerminal) {
  cli::ProgressView view(80);
  const std::vector<cli::ProgressRow> two{{"a/MAP29361206-1.BMP", 0.5, 3 * 1048576.0},
                                          {"b/MAP29361206-1.BMP", 1.0, 0}};
  const std::string first = view.Draw(two);
  EXPECT_EQ(first.rfind("\r\x1b[2Ka/MAP29361206-1.BMP [##########----------]  50%     3.0 MiB/s\n", 0), 0u)
      << first;
  // The second drawing goes back up over the two lines of the first.
  EXPECT_EQ(view.Draw({two[0]}).rfind("\r\x1b[2A\x1b[2K", 0), 0u);
  EXPECT_EQ(view.Clear(), "\r\x1b[1A\x1b[J");
  EXPECT_EQ(view.Clear(), "\r\x1b[J");

  // A long name keeps its end; Japanese characters take two columns each.
  const std::string line = cli::ProgressLine({"/長い/地図の/フォルダ/MAP29361206-NS1.BMP", 0.25, 0}, 70);
  EXPECT_EQ(line.rfind("...ルダ/MAP29361206-NS1.BMP [#####-", 0), 0u) << line;
  int columns = 0;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) columns += byte >= 0xE1 ? 2 : 1;
    EXPECT_GE(byte, 0x20) << "no control characters in a line";
  }
  EXPECT_LE(columns, 69);
}

}  // namespace
