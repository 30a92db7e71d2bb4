#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <vector>
#include <string>

#include "app/qt/main_window.h"
#include "mapconv/test_hooks.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_folder.h"

namespace testing_support {
namespace {

using halfmap::qt::MainWindow;
using halfmap::ui::Id;
namespace ui = halfmap::ui;

const std::string kSuffixes[] = {"", "NS", "X"};

std::string In(const std::string& suffix) { return "MAP29361206-" + suffix + "1.BMP"; }
std::string Out(const std::string& suffix) { return "MAP29361206-" + suffix + "2.BMP"; }
QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::uint8_t Pattern(int x, int y) { return static_cast<std::uint8_t>(x * 7 + y * 3); }

// The expected half-scale file, worked out here from the pixel rule alone:
// even columns of odd rows, rows padded to four bytes.
Bytes ExpectedHalf(int width, int height) {
  Bytes expected = MakeBmp({.width = width / 2, .height = height / 2, .pixel = [&](int x, int y) {
                              return Pattern(2 * x, 2 * y + 1);
                            }, .filler = 0});
  const Bytes input = MakeBmp({.width = width, .height = height, .pixel = Pattern});
  // Every header field but size, width and height comes from the input.
  for (std::size_t i = 0; i < 1078; ++i) {
    const bool patched = (i >= 2 && i < 6) || (i >= 18 && i < 26);
    if (!patched) expected[i] = input[i];
  }
  return expected;
}

// Runs action on the first paint of watched for which when() holds, from
// inside the event processing of a conversion's row check.
class OnPaint : public QObject {
 public:
  OnPaint(QWidget* watched, std::function<bool()> when, std::function<void()> action)
      : when_(std::move(when)), action_(std::move(action)) {
    watched->installEventFilter(this);
  }
  bool fired() const { return fired_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !fired_ && when_()) {
      fired_ = true;
      action_();
    }
    return false;
  }

 private:
  std::function<bool()> when_;
  std::function<void()> action_;
  bool fired_ = false;
};

class QtWindowTest : public ::testing::Test {
 protected:
  void AddInputs(int width, int height) {
    for (const auto& suffix : kSuffixes) WriteAll(folder_ / In(suffix), MakeBmp({.width = width, .height = height, .pixel = Pattern}));
  }
  // Shows the window and lets the event loop deliver the probe.
  void Start() {
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    QApplication::processEvents();
  }
  QPushButton* button(Id id) { return static_cast<QPushButton*>(window_.widget(id)); }
  halfmap::qt::Bar* bar(Id id) { return static_cast<halfmap::qt::Bar*>(window_.widget(id)); }
  halfmap::qt::Label* label(Id id) { return static_cast<halfmap::qt::Label*>(window_.widget(id)); }
  QString status() { return static_cast<QStatusBar*>(window_.widget(Id::Stsbar))->currentMessage(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(folder_ / name); }

  TempFolder folder_;
  MainWindow window_;
};

TEST_F(QtWindowTest, ControlsFollowTheLayoutScaledByTheFont) {
  const int zeroHeight = QFontMetrics(window_.font()).size(Qt::TextSingleLine, "0").height();
  const double scale = zeroHeight == 14 ? 1.0 : zeroHeight / 14.0;
  EXPECT_DOUBLE_EQ(window_.scale(), scale);
  EXPECT_EQ(window_.font().pixelSize(), 12 * window_.logicalDpiY() / 96);
  // The font in use really has the Japanese glyphs.
  const QRawFont raw = QRawFont::fromFont(window_.font());
  for (const char32_t c : {U'通', U'固', U'線', U'実', U'終'}) EXPECT_TRUE(raw.supportsCharacter(c)) << raw.familyName().toStdString();

  EXPECT_EQ(window_.size(), QSize(qRound(270 * scale), qRound(158 * scale)));
  EXPECT_EQ(window_.minimumSize(), window_.maximumSize()) << "fixed size";
  const Qt::WindowFlags flags = window_.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(window_.windowTitle(), Q(ui::text::kCaption));

  for (const ui::Control& c : ui::kControls) {
    const QRect expected(qRound(c.left * scale), qRound(c.top * scale), qRound(c.width * scale), qRound(c.height * scale));
    const QRect placed = window_.widget(c.id)->geometry();
    if (c.kind == ui::Kind::Label) {
      // Sized to the text, the etched copy included; the right edge stays.
      const int textWidth = QFontMetrics(window_.font()).horizontalAdvance(Q(c.text));
      EXPECT_EQ(placed.x() + placed.width(), qRound((c.left + c.width) * scale)) << c.name;
      EXPECT_EQ(placed.width(), textWidth + window_.etch()) << c.name;
      EXPECT_EQ(placed.top(), expected.top()) << c.name;
    } else {
      EXPECT_EQ(placed, expected) << c.name;
    }
    EXPECT_EQ(window_.widget(c.id)->isEnabled(), c.enabled) << c.name;
    EXPECT_EQ(window_.widget(c.id)->focusPolicy() != Qt::NoFocus, ui::TakesFocus(c)) << c.name;
  }
  EXPECT_EQ(label(Id::Label1)->text(), "通常");
  EXPECT_EQ(label(Id::Label2)->text(), "固定物無し");
  EXPECT_EQ(label(Id::Label3)->text(), "Ｘ線");
  EXPECT_EQ(button(Id::Button1)->text(), "実行");
  EXPECT_EQ(button(Id::Button2)->text(), "終了");
  EXPECT_EQ(button(Id::Button1)->nextInFocusChain(), button(Id::Button2));
  EXPECT_EQ(status(), "");
}

TEST_F(QtWindowTest, ProbeComesFromTheEventLoopAndFocusStaysOnQuit) {
  WriteAll(folder_ / In("NS"), MakeBmp({}));
  window_.show();
  EXPECT_EQ(status(), "") << "the probe must not run inside the show";
  EXPECT_TRUE(label(Id::Label1)->isEnabled());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  QApplication::processEvents();

  EXPECT_FALSE(label(Id::Label1)->isEnabled());
  EXPECT_TRUE(label(Id::Label2)->isEnabled());
  EXPECT_FALSE(label(Id::Label3)->isEnabled());
  EXPECT_TRUE(button(Id::Button1)->isEnabled());
  EXPECT_EQ(status(), Q(ui::text::kReady));
  EXPECT_EQ(window_.focusWidget(), button(Id::Button2));
  const QPoint middle = window_.screen()->availableGeometry().center();
  EXPECT_LE((window_.frameGeometry().center() - middle).manhattanLength(), 1) << "centred on the screen";

  // Escape is no key of either button; Enter presses the focused Quit.
  QTest::keyClick(window_.focusWidget(), Qt::Key_Escape);
  EXPECT_TRUE(window_.isVisible());
  QTest::keyClick(window_.focusWidget(), Qt::Key_Return);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_FALSE(Exists(Out("NS")));
}

// How many pixels of the widget's picture have exactly this colour.
int CountColour(QWidget* widget, const QColor& colour) {
  const QImage picture = widget->grab().toImage();
  int count = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) count += picture.pixel(x, y) == colour.rgb();
  return count;
}

TEST_F(QtWindowTest, AMissingInputsLabelIsDrawnEtched) {
  WriteAll(folder_ / In(""), MakeBmp({}));
  Start();
  const QPalette& colours = window_.palette();
  const QColor text = colours.color(QPalette::Active, QPalette::WindowText);
  const QColor highlight = colours.color(QPalette::Active, QPalette::Light);
  const QColor shadow = colours.color(QPalette::Active, QPalette::Dark);
  ASSERT_NE(highlight, colours.color(QPalette::Active, QPalette::Window)) << "the etching must show";

  QWidget* present = label(Id::Label1);
  EXPECT_GT(CountColour(present, text), 0);
  EXPECT_EQ(CountColour(present, highlight), 0);
  for (const Id id : {Id::Label2, Id::Label3}) {
    EXPECT_EQ(CountColour(label(id), text), 0);
    EXPECT_GT(CountColour(label(id), highlight), 0);
    EXPECT_GT(CountColour(label(id), shadow), 0);
  }
}

QAccessibleInterface* Accessible(QObject* object) { return QAccessible::queryAccessibleInterface(object); }

TEST_F(QtWindowTest, AssistiveToolsSeeEveryControlByRoleNameValueAndState) {
  WriteAll(folder_ / In(""), MakeBmp({}));
  WriteAll(folder_ / In("X"), MakeBmp({}));
  Start();

  QAccessibleInterface* window = Accessible(&window_);
  EXPECT_EQ(window->role(), QAccessible::Dialog);
  EXPECT_EQ(window->text(QAccessible::Name), Q(ui::text::kCaption));

  const std::pair<Id, Id> rows[] = {{Id::Label1, Id::Bar1}, {Id::Label2, Id::Bar2}, {Id::Label3, Id::Bar3}};
  for (const auto& [labelId, barId] : rows) {
    const QString map = Q(ui::ControlFor(labelId).text);
    const bool missing = labelId == Id::Label2;
    QAccessibleInterface* text = Accessible(label(labelId));
    QAccessibleInterface* progress = Accessible(bar(barId));
    EXPECT_EQ(text->role(), QAccessible::StaticText) << map.toStdString();
    EXPECT_EQ(text->text(QAccessible::Name), map);
    EXPECT_EQ(progress->role(), QAccessible::ProgressBar) << map.toStdString();
    EXPECT_EQ(progress->text(QAccessible::Name), map);
    const auto labelledBy = progress->relations(QAccessible::Label);
    ASSERT_EQ(labelledBy.size(), 1) << map.toStdString();
    EXPECT_EQ(labelledBy.front().first->object(), text->object());
    ASSERT_NE(progress->valueInterface(), nullptr);
    EXPECT_EQ(progress->valueInterface()->minimumValue().toInt(), ui::kBarMin);
    EXPECT_EQ(progress->valueInterface()->maximumValue().toInt(), ui::kBarMax);
    EXPECT_EQ(progress->valueInterface()->currentValue().toInt(), ui::kBarMin);
    // A missing map: its label and its bar are unavailable.
    EXPECT_EQ(text->state().disabled, missing) << map.toStdString();
    EXPECT_EQ(progress->state().disabled, missing) << map.toStdString();
  }
  for (const Id id : {Id::Button1, Id::Button2}) {
    QAccessibleInterface* button = Accessible(this->button(id));
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(button->text(QAccessible::Name), Q(ui::ControlFor(id).text));
  }
  QAccessibleInterface* status = Accessible(window_.widget(Id::Stsbar));
  EXPECT_EQ(status->role(), QAccessible::StatusBar);
  EXPECT_EQ(status->text(QAccessible::Name), Q(ui::text::kReady));
  ASSERT_NE(status->textInterface(), nullptr);
  EXPECT_EQ(status->textInterface()->text(0, status->textInterface()->characterCount()), Q(ui::text::kReady));
  // The status reaches a screen reader with the window, and as a notification.
  EXPECT_EQ(window->text(QAccessible::Description), Q(ui::text::kReady));
  std::vector<QWidget*> notices;
  for (QWidget* child : window_.findChildren<QWidget*>()) {
    if (dynamic_cast<halfmap::qt::Notice*>(child)) notices.push_back(child);
  }
  ASSERT_EQ(notices.size(), 1u);
  QAccessibleInterface* notice = Accessible(notices.front());
  EXPECT_EQ(notice->role(), QAccessible::Notification);
  EXPECT_EQ(notice->text(QAccessible::Name), Q(ui::text::kReady));
  EXPECT_FALSE(notice->state().invisible);
  EXPECT_TRUE(notices.front()->size().isEmpty());
}

// Qt announces a bar's value to assistive tools whenever the value changes
// (the offscreen platform has no bridge to receive it; tools/atspi-dump.py
// watches the real announcements): only at whole tenths, while the drawn
// length grows with every pixel.
TEST_F(QtWindowTest, ARunChangesBarValuesOnlyAtWholeTenths) {
  AddInputs(16, 2000);
  Start();
  std::map<Id, std::vector<int>> values;
  std::map<Id, std::set<int>> lengths;
  for (const Id id : {Id::Bar1, Id::Bar2, Id::Bar3}) {
    QObject::connect(bar(id), &QProgressBar::valueChanged, [&values, id](int value) { values[id].push_back(value); });
  }
  OnPaint watch(bar(Id::Bar2), [&] { lengths[Id::Bar2].insert(bar(Id::Bar2)->filledLength()); return false; }, [] {});
  window_.setEventInterval({});  // every repaint taken up
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);
  ASSERT_EQ(status(), Q(ui::text::kFinished));

  const int rows = 2000;  // the bar counts input rows
  for (const Id id : {Id::Bar1, Id::Bar2, Id::Bar3}) {
    const std::vector<int>& changes = values[id];
    ASSERT_EQ(changes.size(), 10u) << ui::ControlFor(id).name;
    for (std::size_t i = 0; i < changes.size(); ++i) EXPECT_EQ(changes[i], rows * static_cast<int>(i + 1) / 10);
    QAccessibleValueInterface* value = Accessible(bar(id))->valueInterface();
    EXPECT_EQ(value->maximumValue().toInt(), rows);
    EXPECT_EQ(value->currentValue().toInt(), rows);
  }
  EXPECT_GT(lengths[Id::Bar2].size(), 20u) << "drawn in far more steps than it is announced";
  QAccessibleInterface* stsbar = Accessible(window_.widget(Id::Stsbar));
  EXPECT_EQ(stsbar->text(QAccessible::Name), Q(ui::text::kFinished));
  EXPECT_EQ(stsbar->textInterface()->text(0, stsbar->textInterface()->characterCount()), Q(ui::text::kFinished));
}

// Bars repaint only what changed; the screen still shows what drawing the
// whole window afresh shows, during a run and after a bar is set back.
TEST_F(QtWindowTest, RepaintsLeaveWhatAFreshDrawingShows) {
  AddInputs(16, 600);
  Start();
  const auto fresh = [&] {
    const QImage shown = window_.screen()->grabWindow(window_.winId()).toImage();
    return shown == window_.grab().toImage().convertToFormat(shown.format());
  };
  int steps = 0, stale = 0;
  QTimer step;
  QObject::connect(&step, &QTimer::timeout, [&] { ++steps; stale += !fresh(); });
  step.start(0);
  window_.setEventInterval({});
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);
  EXPECT_GT(steps, 100);
  EXPECT_EQ(stale, 0);
  bar(Id::Bar1)->SetPosition(bar(Id::Bar1)->Max() / 3);
  QApplication::processEvents();
  EXPECT_TRUE(fresh()) << "set back";
}

TEST_F(QtWindowTest, SpaceOnRunConvertsAndMovesTheFocusToAbort) {
  AddInputs(30, 22);
  Start();
  button(Id::Button1)->setFocus();
  QTest::keyClick(button(Id::Button1), Qt::Key_Space);

  EXPECT_EQ(status(), Q(ui::text::kFinished));
  EXPECT_EQ(window_.focusWidget(), button(Id::Button2));
  for (const auto& suffix : kSuffixes) EXPECT_EQ(ReadAll(folder_ / Out(suffix)), ExpectedHalf(30, 22)) << suffix;
}

TEST_F(QtWindowTest, FullRunWritesEveryMapAndFillsTheBars) {
  AddInputs(70, 41);
  Start();
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);

  EXPECT_EQ(status(), Q(ui::text::kFinished));
  EXPECT_EQ(button(Id::Button2)->text(), Q(ui::text::kQuit));
  EXPECT_FALSE(button(Id::Button1)->isEnabled());
  EXPECT_EQ(window_.form().runState(), halfmap::RunState::Finished);
  for (const auto& suffix : kSuffixes) EXPECT_EQ(ReadAll(folder_ / Out(suffix)), ExpectedHalf(70, 41)) << suffix;
  for (const Id id : {Id::Bar1, Id::Bar2, Id::Bar3}) EXPECT_EQ(bar(id)->filledLength(), bar(id)->width() - 2);

  QTest::mouseClick(button(Id::Button2), Qt::LeftButton);
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(QtWindowTest, AbortInTheSecondMapKeepsTheFirstAndNeverStartsTheThird) {
  AddInputs(16, 400);
  Start();
  window_.setEventInterval({});  // take the click up at the very next row
  OnPaint abort(bar(Id::Bar2), [&] { return bar(Id::Bar2)->filledLength() > 0; },
                [&] { QTest::mouseClick(button(Id::Button2), Qt::LeftButton); });
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);

  ASSERT_TRUE(abort.fired());
  EXPECT_EQ(status(), Q(ui::text::kAborted));
  EXPECT_EQ(ReadAll(folder_ / Out("")), ExpectedHalf(16, 400));
  EXPECT_FALSE(Exists(Out("NS")));
  EXPECT_FALSE(Exists(Out("X")));
  EXPECT_LT(bar(Id::Bar2)->filledLength(), bar(Id::Bar2)->width() - 2);
  EXPECT_EQ(bar(Id::Bar3)->filledLength(), 0);
  EXPECT_EQ(button(Id::Button2)->text(), Q(ui::text::kQuit));
  EXPECT_TRUE(window_.isVisible()) << "Abort must not quit";
}

TEST_F(QtWindowTest, CloseBoxDuringARunWaitsForTheRunToEnd) {
  AddInputs(16, 400);
  Start();
  window_.setEventInterval({});
  bool visibleAfterClose = false;
  OnPaint closeBox(bar(Id::Bar1), [&] { return bar(Id::Bar1)->filledLength() > 0; }, [&] {
    window_.close();
    visibleAfterClose = window_.isVisible();
  });
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);

  ASSERT_TRUE(closeBox.fired());
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_EQ(status(), Q(ui::text::kFinished));
  for (const auto& suffix : kSuffixes) EXPECT_TRUE(Exists(Out(suffix))) << suffix;
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(QtWindowTest, CreateFailureShowsTheErrorBoxAndTheWindowGoesOn) {
  AddInputs(8, 8);
  Start();
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  closer.start(10);
  mapconv::hooks::SetFaultHook([](mapconv::hooks::Op op) { return op == mapconv::hooks::Op::Create; });
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);
  mapconv::hooks::SetFaultHook(nullptr);
  closer.stop();

  EXPECT_EQ(title, "Halfmapwindow");
  EXPECT_TRUE(text.startsWith("ファイル ")) << text.toStdString();
  EXPECT_TRUE(text.contains(Q(Out("")))) << text.toStdString();
  EXPECT_TRUE(text.endsWith("を作成できません.")) << text.toStdString();
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::Ok);
  EXPECT_EQ(status(), Q(ui::text::kReady));
  EXPECT_EQ(button(Id::Button2)->text(), Q(ui::text::kQuit));
  EXPECT_FALSE(button(Id::Button1)->isEnabled());
  EXPECT_TRUE(window_.isVisible());
}

QString Described(std::string_view status, const TempFolder& folder) {
  return Q(status) + "\n" + Q(ui::text::kFolderIs) + Q(folder.path().string());
}

TEST_F(QtWindowTest, StartedOnAFolderItConvertsThereAndTellsWhich) {
  AddInputs(30, 22);  // beside the executable: never looked at
  const TempFolder given("given");
  for (const auto& suffix : kSuffixes)
    WriteAll(given / In(suffix), MakeBmp({.width = 30, .height = 22, .pixel = Pattern}));
  MainWindow window({halfmap::MapFolder::Kind::Given, given.path()});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QApplication::processEvents();

  QWidget* stsbar = window.widget(Id::Stsbar);
  EXPECT_EQ(stsbar->toolTip(), Q(given.path().string()));
  EXPECT_EQ(Accessible(&window)->text(QAccessible::Description), Described(ui::text::kReady, given));
  EXPECT_EQ(window.windowTitle(), Q(ui::text::kCaption)) << "the caption stays";
  QTest::mouseClick(static_cast<QPushButton*>(window.widget(Id::Button1)), Qt::LeftButton);
  EXPECT_EQ(Accessible(&window)->text(QAccessible::Description), Described(ui::text::kFinished, given));
  for (const auto& suffix : kSuffixes) {
    EXPECT_EQ(ReadAll(given / Out(suffix)), ExpectedHalf(30, 22)) << suffix;
    EXPECT_FALSE(Exists(Out(suffix))) << suffix;
  }
}

// What a file manager sends: the enter, then the drop, of local URLs.
bool DragEnter(QWidget* window, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &enter);
  return enter.isAccepted();
}
void Drop(QWidget* window, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &drop);
}

TEST_F(QtWindowTest, AFolderDroppedBeforeTheRunIsProbedAndConverted) {
  Start();  // no map beside the executable
  ASSERT_EQ(status(), Q(ui::text::kNotFound));
  const TempFolder dropped("dropped");
  mapconv::hooks::SetAppFolder(folder_.path());
  WriteAll(dropped / In("X"), MakeBmp({.width = 30, .height = 22, .pixel = Pattern}));
  const QUrl url = QUrl::fromLocalFile(Q(dropped.path().string()));
  const QUrl file = QUrl::fromLocalFile(Q((dropped / In("X")).string()));
  EXPECT_TRUE(DragEnter(&window_, {url}));
  EXPECT_FALSE(DragEnter(&window_, {file}));
  EXPECT_FALSE(DragEnter(&window_, {url, url}));
  EXPECT_FALSE(DragEnter(&window_, {QUrl("https://example.org/maps/")}));

  Drop(&window_, {url});
  EXPECT_EQ(status(), Q(ui::text::kReady));
  EXPECT_TRUE(label(Id::Label3)->isEnabled());
  EXPECT_FALSE(label(Id::Label1)->isEnabled());
  EXPECT_EQ(window_.widget(Id::Stsbar)->toolTip(), Q(dropped.path().string()));
  EXPECT_EQ(Accessible(&window_)->text(QAccessible::Description), Described(ui::text::kReady, dropped));
  QTest::mouseClick(button(Id::Button1), Qt::LeftButton);
  EXPECT_EQ(status(), Q(ui::text::kFinished));
  EXPECT_EQ(ReadAll(dropped / Out("X")), ExpectedHalf(30, 22));

  EXPECT_FALSE(DragEnter(&window_, {url})) << "after the run";
  Drop(&window_, {QUrl::fromLocalFile(Q(folder_.path().string()))});
  EXPECT_EQ(window_.widget(Id::Stsbar)->toolTip(), Q(dropped.path().string()));
  EXPECT_EQ(status(), Q(ui::text::kFinished));
}

// The executable's folder is the maps folder, which others may write to: a
// qt.conf there pointing plugins elsewhere and a platforms/ folder beside it
// change nothing, and Qt never looks in either.
TEST(QtWindowStart, IgnoresQtConfAndPluginsBesideTheExecutable) {
  const TempFolder folder;
  std::filesystem::copy_file(HALFMAP_EXE, folder / "halfmap");
  std::ofstream(folder / "qt.conf") << "[Paths]\nPlugins=/nonexistent\nPrefix=/nonexistent\n";
  std::filesystem::create_directories(folder / "platforms" / "sub");
  std::ofstream(folder / "platforms" / "libqoffscreen.so") << "not a plugin";
  QProcess window;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("QT_DEBUG_PLUGINS", "1");
  environment.insert("QT_PLUGIN_PATH", Q((folder / "platforms" / "sub").string()));
  window.setProcessEnvironment(environment);
  window.setProcessChannelMode(QProcess::MergedChannels);
  window.start(Q((folder / "halfmap").string()), {});
  ASSERT_TRUE(window.waitForStarted());
  // The styles are looked for once the window is built, after the platform.
  QByteArray said;
  while (!said.contains("plugins/styles") && window.waitForReadyRead(10000)) said += window.readAll();
  const bool running = window.state() == QProcess::Running;
  window.kill();
  window.waitForFinished();
  said += window.readAll();
  EXPECT_TRUE(running) << said.toStdString();
  EXPECT_TRUE(said.contains("plugins/platforms")) << said.toStdString();
  EXPECT_FALSE(said.contains(folder.path().string().c_str())) << said.toStdString();
}

}  // namespace
}  // namespace testing_support
