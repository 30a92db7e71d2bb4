#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "app/map_folder.h"
#include "mapconv/map_files.h"
#include "mapconv/test_hooks.h"
#include "tests/app/memory_layer.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_folder.h"

namespace testing_support {
namespace {

using halfmap::RunState;
using halfmap::ui::Id;
namespace text = halfmap::ui::text;

constexpr int kHeight = 6;  // every map: 1 check before reading, then one per row
constexpr int kChecksPerMap = kHeight + 1;

std::string In(const std::string& suffix) { return "MAP29361206-" + suffix + "1.BMP"; }
std::string Out(const std::string& suffix) { return "MAP29361206-" + suffix + "2.BMP"; }

class TForm1Test : public ::testing::Test {
 protected:
  void AddInput(const std::string& suffix) {
    WriteAll(folder_ / In(suffix), MakeBmp({.width = 8, .height = kHeight}));
  }
  void AddAllInputs() {
    for (const auto* suffix : {"", "NS", "X"}) AddInput(suffix);
  }
  // Starts the window and lets the event loop deliver the probe.
  void Start() {
    layer_.Show();
    layer_.Run();
  }
  void ClickRun() {
    layer_.QueueClick(Id::Button1);
    layer_.Run();
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(folder_ / name); }
  // folder_ stays the executable's folder after another TempFolder is made.
  void KeepAppFolder() { mapconv::hooks::SetAppFolder(folder_.path()); }
  // The log from the given entry on.
  Log LogFrom(std::size_t first) const { return Log(layer_.log().begin() + first, layer_.log().end()); }

  TempFolder folder_;
  MemoryLayer layer_;
};

TEST_F(TForm1Test, ProbeRunsFromTheEventLoopOnceAndNeverInsideFormShow) {
  AddAllInputs();
  layer_.Show();
  EXPECT_TRUE(layer_.log().empty()) << "FormShow itself must not probe";
  EXPECT_EQ(layer_.pending(), 1u);

  layer_.form().FormShow();  // a later show posts nothing more
  EXPECT_EQ(layer_.pending(), 1u);
  layer_.Run();
  EXPECT_EQ(layer_.log(), (Log{"Label1.Enabled=1", "Label2.Enabled=1", "Label3.Enabled=1",
                               "Stsbar.Text=" + std::string(text::kReady), "Button1.Enabled=1"}));
  EXPECT_EQ(layer_.form().runState(), RunState::Ready);
}

TEST_F(TForm1Test, ProbeWithNoInputLeavesRunDisabledAndQuitCloses) {
  // A directory under an input's name is no input.
  std::filesystem::create_directory(folder_ / In(""));
  Start();
  EXPECT_EQ(layer_.log(), (Log{"Label1.Enabled=0", "Label2.Enabled=0", "Label3.Enabled=0",
                               "Stsbar.Text=" + std::string(text::kNotFound)}));
  EXPECT_EQ(layer_.form().runState(), RunState::NoInput);
  EXPECT_FALSE(layer_.button(Id::Button1).Enabled());

  layer_.QueueClick(Id::Button1);  // disabled: nothing happens
  layer_.Run();
  EXPECT_EQ(layer_.form().runState(), RunState::NoInput);
  layer_.QueueClick(Id::Button2);
  layer_.Run();
  EXPECT_TRUE(layer_.closed());
}

TEST_F(TForm1Test, OneInputIsProbedAndTheRunSkipsTheOthers) {
  AddInput("X");
  Start();
  EXPECT_EQ(layer_.log(), (Log{"Label1.Enabled=0", "Label2.Enabled=0", "Label3.Enabled=1",
                               "Stsbar.Text=" + std::string(text::kReady), "Button1.Enabled=1"}));
  // Inputs that appear after the probe are not noticed.
  AddInput("");
  const auto before = layer_.log().size();
  ClickRun();

  EXPECT_EQ(LogFrom(before), (Log{"Button2.Focus", "Button1.Enabled=0", "Button2.Text=" + std::string(text::kAbort),
                                  "Bar3.Max=" + std::to_string(kHeight), "Stsbar.Text=" + std::string(text::kFinished),
                                  "Button2.Text=" + std::string(text::kQuit)}));
  EXPECT_TRUE(Exists(Out("X")));
  EXPECT_FALSE(Exists(Out("")));
  EXPECT_EQ(layer_.processCalls(), kChecksPerMap);
  EXPECT_EQ(layer_.bar(Id::Bar3).DrawnPosition(), layer_.bar(Id::Bar3).Max());
  EXPECT_EQ(layer_.form().runState(), RunState::Finished);
  EXPECT_FALSE(layer_.closed());
}

TEST_F(TForm1Test, FullRunConvertsInOrderAndAllowsNoSecondRun) {
  AddAllInputs();
  Start();
  const auto before = layer_.log().size();
  ClickRun();
  const std::string max = ".Max=" + std::to_string(kHeight);
  EXPECT_EQ(LogFrom(before), (Log{"Button2.Focus", "Button1.Enabled=0", "Button2.Text=" + std::string(text::kAbort),
                                  "Bar1" + max, "Bar2" + max, "Bar3" + max,
                                  "Stsbar.Text=" + std::string(text::kFinished),
                                  "Button2.Text=" + std::string(text::kQuit)}));
  for (const auto* suffix : {"", "NS", "X"}) {
    const Bytes out = ReadAll(folder_ / Out(suffix));
    EXPECT_EQ(I32At(out, 18), 4) << suffix;
    EXPECT_EQ(I32At(out, 22), kHeight / 2) << suffix;
  }
  EXPECT_EQ(layer_.processCalls(), 3 * kChecksPerMap);

  ClickRun();  // Run stays disabled
  EXPECT_EQ(layer_.processCalls(), 3 * kChecksPerMap);
  layer_.QueueClick(Id::Button2);
  layer_.Run();
  EXPECT_TRUE(layer_.closed());
  EXPECT_TRUE(layer_.errorBoxes().empty());
}

TEST_F(TForm1Test, AbortDuringTheSecondMapStopsAtTheNextRow) {
  AddAllInputs();
  Start();
  // A click made while row 2 of the second map is converted.
  const int clickAt = kChecksPerMap + 3;
  layer_.afterProcess = [&](int calls) {
    if (calls == clickAt) layer_.QueueClick(Id::Button2);
  };
  ClickRun();

  EXPECT_EQ(layer_.processCalls(), clickAt + 1) << "taken up by the very next check";
  EXPECT_EQ(layer_.status().Text(), text::kAborted);
  EXPECT_EQ(ReadAll(folder_ / Out("")).size(), 1078u + 4 * kHeight / 2);
  EXPECT_FALSE(Exists(Out("NS")));
  EXPECT_FALSE(Exists(Out("X")));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{In(""), Out(""), In("NS"), In("X")}))
      << "nothing half-written may be left";
  EXPECT_EQ(layer_.bar(Id::Bar3).Max(), halfmap::ui::kBarMax) << "the third map never started";
  EXPECT_EQ(layer_.button(Id::Button2).Text(), text::kQuit);
  EXPECT_FALSE(layer_.button(Id::Button1).Enabled());
  EXPECT_EQ(layer_.form().runState(), RunState::Finished);
  EXPECT_FALSE(layer_.closed()) << "Abort must not quit";
  EXPECT_TRUE(layer_.errorBoxes().empty());
}

TEST_F(TForm1Test, AbortClickAfterTheLastCheckFinishesTheRunThenQuits) {
  AddAllInputs();
  Start();
  const int lastCheck = 3 * kChecksPerMap;
  bool closedDuringRun = false;
  layer_.afterProcess = [&](int calls) {
    closedDuringRun = closedDuringRun || layer_.closed();
    if (calls == lastCheck) layer_.QueueClick(Id::Button2);
  };
  ClickRun();

  EXPECT_EQ(layer_.status().Text(), text::kFinished);
  EXPECT_TRUE(Exists(Out("X")));
  EXPECT_FALSE(closedDuringRun);
  EXPECT_TRUE(layer_.closed()) << "the late click quits once the run is over";
}

TEST_F(TForm1Test, CloseBoxDuringARunLetsItFinishThenCloses) {
  AddAllInputs();
  Start();
  bool closedDuringRun = false;
  layer_.afterProcess = [&](int calls) {
    closedDuringRun = closedDuringRun || layer_.closed();
    if (calls == 2) layer_.QueueCloseBox();
  };
  ClickRun();

  EXPECT_FALSE(closedDuringRun);
  EXPECT_EQ(layer_.processCalls(), 3 * kChecksPerMap);
  EXPECT_EQ(layer_.status().Text(), text::kFinished);
  for (const auto* suffix : {"", "NS", "X"}) EXPECT_TRUE(Exists(Out(suffix))) << suffix;
  EXPECT_TRUE(layer_.closed());
}

TEST_F(TForm1Test, AbortStillWorksAfterTheCloseBox) {
  AddAllInputs();
  Start();
  layer_.afterProcess = [&](int calls) {
    if (calls == 2) layer_.QueueCloseBox();
    if (calls == 4) layer_.QueueClick(Id::Button2);
  };
  ClickRun();

  EXPECT_EQ(layer_.processCalls(), 5);
  EXPECT_EQ(layer_.status().Text(), text::kAborted);
  EXPECT_FALSE(Exists(Out("")));
  EXPECT_TRUE(layer_.closed());
}

TEST_F(TForm1Test, CloseBoxBeforeRunClosesAtOnce) {
  AddAllInputs();
  Start();
  layer_.QueueCloseBox();
  layer_.QueueClick(Id::Button1);  // never delivered: the window is gone
  layer_.Run();
  EXPECT_TRUE(layer_.closed());
  EXPECT_FALSE(Exists(Out("")));
}

TEST_F(TForm1Test, CreateFailureShowsTheErrorBoxAndLeavesTheStatus) {
  AddAllInputs();
  Start();
  mapconv::hooks::SetFaultHook([](mapconv::hooks::Op op) { return op == mapconv::hooks::Op::Create; });
  ClickRun();
  mapconv::hooks::SetFaultHook(nullptr);

  ASSERT_EQ(layer_.errorBoxes().size(), 1u);
  const std::string& box = layer_.errorBoxes()[0];
  EXPECT_EQ(box.rfind("ファイル ", 0), 0u) << box;
  EXPECT_NE(box.find(Out("")), std::string::npos) << box;
  EXPECT_EQ(box.substr(box.size() - std::string("を作成できません.").size()), "を作成できません.");
  EXPECT_EQ(layer_.status().Text(), text::kReady);
  EXPECT_EQ(layer_.button(Id::Button2).Text(), text::kQuit);
  EXPECT_FALSE(layer_.button(Id::Button1).Enabled());
  EXPECT_EQ(layer_.form().runState(), RunState::Finished);
  EXPECT_EQ(layer_.processCalls(), 0) << "the later maps are not tried";
  EXPECT_FALSE(layer_.closed());

  layer_.QueueClick(Id::Button2);  // the window goes on and can still quit
  layer_.Run();
  EXPECT_TRUE(layer_.closed());
}

TEST_F(TForm1Test, FileErrorsEndTheRunWithTheirStatusText) {
  AddAllInputs();
  Start();
  mapconv::hooks::SetFaultHook([](mapconv::hooks::Op op) { return op == mapconv::hooks::Op::Read; });
  ClickRun();
  mapconv::hooks::SetFaultHook(nullptr);

  EXPECT_EQ(layer_.status().Text(), "read file error");
  EXPECT_TRUE(layer_.errorBoxes().empty());
  EXPECT_EQ(layer_.form().runState(), RunState::Finished);
  EXPECT_EQ(layer_.button(Id::Button2).Text(), text::kQuit);
}

TEST_F(TForm1Test, AGivenFolderIsShownProbedAndConvertedInstead) {
  AddAllInputs();  // beside the executable: never looked at
  const TempFolder given("given");
  KeepAppFolder();
  WriteAll(given / In("NS"), MakeBmp({.width = 8, .height = kHeight}));
  MemoryLayer layer({halfmap::MapFolder::Kind::Given, given.path()});
  layer.Show();
  layer.Run();
  EXPECT_EQ(layer.log(), (Log{"Folder=" + given.path().string(), "Label1.Enabled=0", "Label2.Enabled=1",
                              "Label3.Enabled=0", "Stsbar.Text=" + std::string(text::kReady), "Button1.Enabled=1"}));
  layer.QueueClick(Id::Button1);
  layer.Run();
  EXPECT_EQ(layer.status().Text(), text::kFinished);
  EXPECT_EQ(given.Names(), (std::vector<std::string>{In("NS"), Out("NS")}));
  EXPECT_FALSE(Exists(Out("")) || Exists(Out("NS")) || Exists(Out("X")));
}

TEST_F(TForm1Test, NoFolderFindsNoMapEvenBesideTheExecutable) {
  AddAllInputs();
  MemoryLayer layer({halfmap::MapFolder::Kind::None, {}});
  layer.Show();
  layer.Run();
  EXPECT_EQ(layer.log(), (Log{"Label1.Enabled=0", "Label2.Enabled=0", "Label3.Enabled=0",
                              "Stsbar.Text=" + std::string(text::kNotFound)}));
  EXPECT_EQ(layer.form().runState(), RunState::NoInput);
  EXPECT_FALSE(layer.button(Id::Button1).Enabled());
}

TEST_F(TForm1Test, AFolderDroppedBeforeARunIsProbedAgainAndNoLater) {
  Start();  // nothing beside the executable
  const TempFolder dropped("dropped");
  WriteAll(dropped / In("X"), MakeBmp({.width = 8, .height = kHeight}));
  const TempFolder empty("empty");
  KeepAppFolder();
  const std::string shown = "Folder=" + dropped.path().string();

  auto before = layer_.log().size();
  layer_.QueueDrop({dropped / In("X")});             // a file
  layer_.QueueDrop({dropped.path(), empty.path()});  // two folders
  layer_.Run();
  EXPECT_EQ(layer_.log().size(), before) << "only one folder is taken";

  layer_.QueueDrop({dropped.path()});
  layer_.Run();
  EXPECT_EQ(LogFrom(before), (Log{shown, "Label1.Enabled=0", "Label2.Enabled=0", "Label3.Enabled=1",
                                  "Stsbar.Text=" + std::string(text::kReady), "Button1.Enabled=1"}));
  EXPECT_EQ(layer_.form().runState(), RunState::Ready);

  before = layer_.log().size();
  layer_.QueueDrop({empty.path()});  // Ready again: Run goes grey
  layer_.Run();
  EXPECT_EQ(LogFrom(before),
            (Log{"Folder=" + empty.path().string(), "Label1.Enabled=0", "Label2.Enabled=0", "Label3.Enabled=0",
                 "Stsbar.Text=" + std::string(text::kNotFound), "Button1.Enabled=0"}));
  EXPECT_EQ(layer_.form().runState(), RunState::NoInput);

  // Taken before the run; one during it and one after it change nothing.
  layer_.QueueDrop({dropped.path()});
  layer_.afterProcess = [&](int calls) {
    if (calls == 2) layer_.QueueDrop({empty.path()});
  };
  ClickRun();
  layer_.QueueDrop({empty.path()});
  layer_.Run();
  EXPECT_EQ(layer_.status().Text(), text::kFinished);
  EXPECT_EQ(layer_.form().folder().path, dropped.path()) << "no folder taken during or after the run";
  EXPECT_EQ(dropped.Names(), (std::vector<std::string>{In("X"), Out("X")}));
}

// Which folder a command line gives the window.
TEST(ChooseMapFolderTest, ArgumentsExecutableAndCurrentFolder) {
  const TempFolder current("current");
  std::filesystem::create_directory(current / "maps");
  WriteAll(current / "map.bmp", MakeBmp({}));
  const std::filesystem::path system[] = {"/usr", "/bin", "/sbin", "/opt"};
  using Kind = halfmap::MapFolder::Kind;
  const std::string expected(text::kFolderExpected);
  const struct {
    std::vector<std::filesystem::path> args;
    std::filesystem::path executable;
    Kind kind;
    std::filesystem::path folder;
    std::string message;
  } cases[] = {
      {{}, "/home/u/build/halfmap", Kind::BesideExecutable, {}, ""},
      {{}, "/usr/bin/halfmap", Kind::Given, current.path(), ""},
      {{}, "/usr/local/bin/halfmap", Kind::Given, current.path(), ""},
      {{}, "/opt/halfmap/halfmap", Kind::Given, current.path(), ""},
      {{}, "/usrlocal/halfmap", Kind::BesideExecutable, {}, ""},
      {{"maps"}, "/usr/bin/halfmap", Kind::Given, current / "maps", ""},
      {{"./maps/"}, "/home/u/halfmap", Kind::Given, current / "maps", ""},
      {{current / "maps" / ".."}, "/home/u/halfmap", Kind::Given, current.path(), ""},
      {{"map.bmp"}, "/home/u/halfmap", Kind::None, {}, "「map.bmp」\n" + expected},
      {{"gone"}, "/home/u/halfmap", Kind::None, {}, "「gone」\n" + expected},
      {{"maps", "."}, "/home/u/halfmap", Kind::None, {}, expected},
  };
  for (const auto& c : cases) {
    const auto choice = halfmap::ChooseMapFolder(c.args, c.executable, current.path(), system);
    std::string what = c.executable.string();
    for (const auto& arg : c.args) what.append(" ").append(arg.string());
    EXPECT_EQ(choice.folder.kind, c.kind) << what;
    EXPECT_EQ(choice.folder.path, c.folder) << what;
    EXPECT_EQ(choice.message, c.message) << what;
  }
}

// A bar tells its value at most 11 times, whatever its range.
TEST(WholeTenthsTest, TenOnlyAtTheEndAndNoOverflow) {
  EXPECT_EQ(halfmap::WholeTenths(0, 2000, 199), 0);
  EXPECT_EQ(halfmap::WholeTenths(0, 2000, 1999), 9);
  EXPECT_EQ(halfmap::WholeTenths(0, 2000, 2000), 10);
  EXPECT_EQ(halfmap::WholeTenths(INT_MIN, INT_MAX, 0), 5);
}

}  // namespace
}  // namespace testing_support
