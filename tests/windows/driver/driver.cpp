// Drives halfmap.exe from outside, one scenario per run, and prints one line
// per check. Exit code 0 when every check held. The calling script prepares
// the folder beforehand and compares the files afterwards.
//
//   wine_driver probe <exe> <labels>            labels: "101" = Label1, Label3 on
//   wine_driver keys <exe>                      Escape, Tab, Tab, then Enter quits
//   wine_driver closebox <exe>
//   wine_driver run <exe> [folder]              folder: given as the argument
//   wine_driver drop <exe> <folder>             the folder dropped, then a run
//   wine_driver two-folders <exe> <folder>      the folder given twice: a message box
//   wine_driver abort|abort-by-key <exe>
//   wine_driver close-during-run|quit-during-run <exe>
//   wine_driver held|read-only <exe> <output> <box title>
//   wine_driver layout <exe>                    creation order, texts, layout, DPI changes
//   wine_driver show <exe> <marker file>        stays until the marker is gone
//   wine_driver hold <exe> <file> <ms> <appears> [args]
//                                               runs exe with args while holding
//                                               file open without sharing, and
//                                               lets it go ms after <appears>
//                                               exists; exits with exe's code
//   wine_driver not-text <exe>                  runs exe with an argument holding
//                                               a lone surrogate; exits with its code
//   wine_driver long-paths                      the file services' long path form
//   wine_driver timed-run <exe> <last output>  prints the seconds from the key
//                                               press on Run to that output's
//                                               appearance (its rename), and
//                                               the program's peak memory
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <psapi.h>

#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "app/win32/control_ids.h"
#include "mapconv/file_services.h"
#include "tests/windows/driver/window_probe.h"

namespace wine_driver {
namespace {

using halfmap::ui::Id;
using halfmap::win32::ControlId;

// The texts the window must show, spelled out here rather than taken from
// the program's own table.
const std::wstring kReady = L"修正MAPを作成するならば『実行』を押してください";
const std::wstring kNotFound = L"x1 MAPが見つかりません";
const std::wstring kQuit = L"終了";
const std::wstring kAbort = L"中断";
const std::wstring kFinished = L"終了";
const std::wstring kAborted = L"中断しました";

const std::wstring kMaps[] = {L"通常", L"固定物無し", L"Ｘ線"};

constexpr auto kStartTimeout = 20s;
constexpr auto kRunTimeout = 120s;
constexpr auto kExitTimeout = 10s;

void Print(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

class Checks {
 public:
  bool That(bool holds, const std::wstring& what) {
    Print((holds ? L"  ok    " : L"  FAIL  ") + what);
    failed_ = failed_ || !holds;
    return holds;
  }
  bool Equal(const std::wstring& seen, const std::wstring& wanted, const std::wstring& what) {
    return That(seen == wanted, what + L": \"" + seen + L"\"" + (seen == wanted ? L"" : L", wanted \"" + wanted + L"\""));
  }
  int ExitCode() const { return failed_ ? 1 : 0; }

 private:
  bool failed_ = false;
};

// The started program and its window, once the start-up probe has run.
class Session {
 public:
  // beforeWindow: what comes before the main window, such as a message box.
  Session(const std::wstring& exe, Checks& checks, const std::wstring& arguments = L"",
          const std::function<void(const Program&)>& beforeWindow = {})
      : program_(exe, arguments), events_(program_.id()), checks_(checks) {
    if (!checks_.That(program_.id() != 0, L"program started")) return;
    if (beforeWindow) beforeWindow(program_);
    checks_.That(WaitUntil([&] { return (window_ = FindTopWindow(program_.id(), halfmap::win32::kMainWindowClass)) != nullptr; }, kStartTimeout),
                 L"main window shown");
    if (window_ == nullptr) return;
    checks_.That(WaitUntil([&] { return !Status().empty(); }, kStartTimeout), L"start-up probe ran");
  }
  ~Session() {
    // Nothing may outlive a scenario, whatever it found.
    if (program_.Running()) ::TerminateProcess(program_.process().get(), 99);
  }

  bool ok() const { return window_ != nullptr; }
  HWND Control(Id id) const { return ::GetDlgItem(window_, ControlId(id)); }
  HWND window() const { return window_; }
  const Program& program() const { return program_; }
  std::wstring Status() const { return StatusText(program_, Control(Id::Stsbar)); }
  bool Enabled(Id id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
  int Events(DWORD event, Id id) const { return events_.Count(event, Control(id)); }
  // Each status change is read out by a screen reader: the status bar says
  // it changed as a live region, once per change.
  void CheckStatusAnnounced(int changes, const std::wstring& when) {
    WaitUntil([&] { return Events(EVENT_OBJECT_LIVEREGIONCHANGED, Id::Stsbar) >= changes; }, 5s);
    const int seen = Events(EVENT_OBJECT_LIVEREGIONCHANGED, Id::Stsbar);
    checks_.That(seen == changes, L"status bar raised EVENT_OBJECT_LIVEREGIONCHANGED " + std::to_wstring(seen) +
                                      L" times " + when + L", wanted " + std::to_wstring(changes));
  }

  // Until a run has started (Run disabled, for good) and Button2 is the
  // quit button again.
  bool WaitRunEnd() const {
    return WaitUntil([&] { return !Enabled(Id::Button1) && Text(Control(Id::Button2)) == kQuit; }, kRunTimeout);
  }
  // As soon as bar moves, holds the program still while action posts its
  // messages: however fast the run, they are taken up inside it. action
  // must not send to the program, which cannot answer meanwhile.
  bool DuringRun(Id bar, const std::function<void()>& action) const {
    if (!WaitUntil([&] { return BarPosition(Control(bar)) > 0; }, kRunTimeout, 1ms)) return false;
    program_.Suspend();
    action();
    program_.Resume();
    return true;
  }
  void ExpectExit(const std::wstring& how) {
    DWORD code = 1;
    checks_.That(program_.WaitExit(kExitTimeout, code) && code == 0, how + L" ends the program (exit code 0)");
  }

 private:
  Program program_;
  WinEvents events_;
  Checks& checks_;
  HWND window_ = nullptr;
};

// Starts the program, waits for its probe, then runs the scenario's body.
int WithSession(const std::wstring& exe, const std::function<void(Session&, Checks&)>& body,
                const std::wstring& arguments = L"") {
  Checks checks;
  Session session(exe, checks, arguments);
  if (!session.ok()) return 1;
  body(session, checks);
  return checks.ExitCode();
}

void CheckFrame(Session& session, Checks& checks) {
  const LONG style = ::GetWindowLongW(session.window(), GWL_STYLE);
  checks.That((style & WS_SYSMENU) && !(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
              L"fixed frame with only a close box");
  RECT frame{};
  RECT work{};
  ::GetWindowRect(session.window(), &frame);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const long dx = (frame.left + frame.right) - (work.left + work.right);
  const long dy = (frame.top + frame.bottom) - (work.top + work.bottom);
  checks.That(dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2, L"window centred on the screen");
}

// labels: '1' where the input is expected present.
void CheckProbe(Session& session, Checks& checks, const std::wstring& labels) {
  const Id ids[] = {Id::Label1, Id::Label2, Id::Label3};
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    const bool present = labels.at(static_cast<std::size_t>(i)) == L'1';
    any = any || present;
    checks.That(session.Enabled(ids[i]) == present,
                L"Label" + std::to_wstring(i + 1) + (present ? L" enabled" : L" disabled (etched)"));
  }
  checks.Equal(session.Status(), any ? kReady : kNotFound, L"status after the probe");
  checks.That(session.Enabled(Id::Button1) == any, any ? L"Run enabled" : L"Run disabled");
  checks.Equal(Text(session.Control(Id::Button2)), kQuit, L"Button2 text");
  checks.That(FocusOf(session.window()) == session.Control(Id::Button2), L"focus on Button2");
  session.CheckStatusAnnounced(1, L"by the probe");
}

int Probe(const std::wstring& exe, const std::wstring& labels) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    CheckFrame(session, checks);
    CheckProbe(session, checks, labels);
    Key(session.Control(Id::Button2), VK_SPACE);
    session.ExpectExit(L"Space on Button2");
  });
}

int Keys(const std::wstring& exe) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    CheckProbe(session, checks, L"111");
    Key(session.Control(Id::Button2), VK_ESCAPE);
    ::Sleep(500);
    checks.That(session.program().Running() && session.Status() == kReady, L"Escape does nothing");
    Key(session.Control(Id::Button2), VK_TAB);
    checks.That(WaitUntil([&] { return FocusOf(session.window()) == session.Control(Id::Button1); }, 5s),
                L"Tab moves the focus to Button1");
    Key(session.Control(Id::Button1), VK_TAB);
    checks.That(WaitUntil([&] { return FocusOf(session.window()) == session.Control(Id::Button2); }, 5s),
                L"Tab moves the focus back to Button2");
    Key(session.Control(Id::Button2), VK_RETURN);
    session.ExpectExit(L"Enter on the focused Button2");
  });
}

int CloseBox(const std::wstring& exe) {
  return WithSession(exe, [&](Session& session, Checks&) {
    ::PostMessageW(session.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    session.ExpectExit(L"the close box");
  });
}

// Run on a window showing all three maps, then Quit. statuses: how many
// the window had shown before.
void RunAndQuit(Session& session, Checks& checks, int statuses) {
  Click(session.Control(Id::Button1));
  checks.That(session.WaitRunEnd(), L"run ended");
  checks.Equal(session.Status(), kFinished, L"status after the run");
  for (const Id bar : {Id::Bar1, Id::Bar2, Id::Bar3}) {
    const HWND control = session.Control(bar);
    checks.That(BarPosition(control) == BarMax(control), L"bar full after the run");
    // Wine's control raises none; the Windows control one per position.
    const int values = session.Events(EVENT_OBJECT_VALUECHANGE, bar);
    checks.That(values <= 11, L"bar raised " + std::to_wstring(values) + L" value-change events (at most 11)");
  }
  session.CheckStatusAnnounced(statuses + 1, L"after the run");
  checks.That(!session.Enabled(Id::Button1), L"Run stays disabled");
  Click(session.Control(Id::Button2));
  session.ExpectExit(L"Quit after the run");
}

// folder: given as the argument, and then shown as the status bar's tooltip.
int Run(const std::wstring& exe, const std::wstring& folder = L"") {
  return WithSession(
      exe,
      [&](Session& session, Checks& checks) {
        CheckProbe(session, checks, L"111");
        if (!folder.empty())
          checks.Equal(ToolTipOf(session.program(), session.Control(Id::Stsbar)), folder, L"tooltip");
        RunAndQuit(session, checks, 1);
      },
      folder.empty() ? L"" : L"\"" + folder + L"\"");
}

// Given two folders, the program says what it expects before the window
// shows; the window then finds no map, though all three lie beside it.
int TwoFolders(const std::wstring& exe, const std::wstring& folder) {
  Checks checks;
  const auto box = [&](const Program& program) {
    HWND shown = nullptr;
    checks.That(WaitUntil([&] { return (shown = FindTopWindow(program.id(), L"#32770")) != nullptr; }, kStartTimeout),
                L"message box shown first");
    if (shown == nullptr) return;
    checks.Equal(Text(::GetDlgItem(shown, 0xFFFF)), L"MAPのあるフォルダを1つ指定してください", L"box text");
    Click(::GetDlgItem(shown, IDOK));
  };
  Session session(exe, checks, L"\"" + folder + L"\" \"" + folder + L"\"", box);
  if (!session.ok()) return 1;
  CheckProbe(session, checks, L"000");
  Key(session.Control(Id::Button2), VK_SPACE);
  session.ExpectExit(L"Space on Button2");
  return checks.ExitCode();
}

// Started where no map lies, then given the folder as a drop from Explorer.
int Drop(const std::wstring& exe, const std::wstring& folder) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    CheckProbe(session, checks, L"000");
    const bool taken =
        DropFiles(session.program(), session.window(), folder, [&] { return session.Enabled(Id::Button1); });
    if (!checks.That(taken, L"folder dropped; Run enabled by the drop")) return;
    for (const Id label : {Id::Label1, Id::Label2, Id::Label3}) checks.That(session.Enabled(label), L"label enabled");
    checks.Equal(session.Status(), kReady, L"status after the drop");
    checks.Equal(ToolTipOf(session.program(), session.Control(Id::Stsbar)), folder, L"tooltip");
    session.CheckStatusAnnounced(2, L"by the drop");
    RunAndQuit(session, checks, 2);
  });
}

// byKeyboard: Enter on the focused control instead of a click, which only
// works if the run's event processing keeps the dialog keyboard interface
// and the focus left Run before Run was disabled.
int Abort(const std::wstring& exe, bool byKeyboard) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    Click(session.Control(Id::Button1));
    checks.That(WaitUntil([&] { return Text(session.Control(Id::Button2)) == kAbort; }, 10s), L"Button2 reads Abort during the run");
    checks.That(session.DuringRun(Id::Bar2, [&] {
      if (byKeyboard) {
        checks.That(FocusOf(session.window()) == session.Control(Id::Button2), L"focus on Button2 during the run");
        Key(FocusOf(session.window()), VK_RETURN);
      } else {
        Click(session.Control(Id::Button2));
      }
    }), L"second map under way");
    checks.That(session.WaitRunEnd(), L"run ended");
    checks.Equal(session.Status(), kAborted, L"status after Abort");
    session.CheckStatusAnnounced(2, L"after Abort");
    checks.That(BarPosition(session.Control(Id::Bar3)) == 0, L"third map never started");
    checks.That(session.program().Running(), L"Abort does not quit");
    Click(session.Control(Id::Button2));
    session.ExpectExit(L"Quit after the aborted run");
  });
}

// byQuitMessage: a WM_QUIT in the queue instead of the close box; both must
// wait until the run is over.
int EndDuringRun(const std::wstring& exe, bool byQuitMessage) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    Click(session.Control(Id::Button1));
    checks.That(session.DuringRun(Id::Bar2, [&] {
      if (byQuitMessage) {
        ::PostThreadMessageW(session.program().threadId(), WM_QUIT, 0, 0);
      } else {
        ::PostMessageW(session.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
      }
    }), L"second map under way");
    // The window may go only once the run's last output is in place.
    const std::wstring last = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"MAP29361206-X2.BMP";
    bool early = false;
    // The big map's bar, as it fills: it is sent a position only at each
    // whole tenth of its rows (and at the end).
    const HWND bar = session.Control(Id::Bar2);
    std::set<int> positions;
    int rows = 0;
    WaitUntil([&] {
      early = early || (!::IsWindow(session.window()) && ::GetFileAttributesW(last.c_str()) == INVALID_FILE_ATTRIBUTES);
      if (::IsWindow(bar)) {
        positions.insert(BarPosition(bar));
        rows = std::max(rows, BarMax(bar));
      }
      return !session.program().Running();
    }, kRunTimeout, 1ms);
    checks.That(!early, L"window stays during the run");
    positions.erase(0);
    const auto tenths = [&](long long p) { return rows > 0 ? p * 10 / rows : 0; };
    const bool atTenths = std::all_of(positions.begin(), positions.end(), [&](int p) { return tenths(p) > tenths(p - 1); });
    checks.That(positions.size() >= 3 && positions.size() <= 11 && atTenths,
                L"Bar2 seen at " + std::to_wstring(positions.size()) + L" positions, each the first row of a whole tenth");
    DWORD code = 1;
    checks.That(session.program().WaitExit(kRunTimeout, code) && code == 0, L"program ends once the run is over");
  });
}

// The run is refused at once when the output cannot be replaced: the box
// names the output, and nothing else changes.
void CheckRefused(Session& session, Checks& checks, const std::wstring& output, const std::wstring& title) {
  const std::wstring before = session.Status();
  Click(session.Control(Id::Button1));
  HWND box = nullptr;
  checks.That(WaitUntil([&] { return (box = FindTopWindow(session.program().id(), L"#32770")) != nullptr; }, kRunTimeout),
              L"error box shown");
  if (box == nullptr) return;
  checks.Equal(Text(box), title, L"box title");
  checks.Equal(Text(::GetDlgItem(box, 0xFFFF)), L"ファイル " + output + L" を作成できません.", L"box text");
  checks.That(::GetDlgItem(box, IDOK) != nullptr && ::GetDlgItem(box, IDCANCEL) == nullptr, L"box has only OK");
  checks.Equal(session.Status(), before, L"status unchanged");
  checks.That(BarPosition(session.Control(Id::Bar1)) == 0, L"refused before any work (Bar1 untouched)");
  Click(::GetDlgItem(box, IDOK));
  checks.That(WaitUntil([&] { return !::IsWindow(box); }, 10s), L"box closed");
  checks.Equal(Text(session.Control(Id::Button2)), kQuit, L"Button2 after the failed run");
  checks.That(session.program().Running() && !session.Enabled(Id::Button1), L"window goes on, Run disabled");
  Click(session.Control(Id::Button2));
  session.ExpectExit(L"Quit after the error");
}

// hold: keep the output open the way another program would, with no
// sharing; otherwise the calling script has made it read-only.
int Refused(const std::wstring& exe, const std::wstring& output, const std::wstring& title, bool hold) {
  const Handle held(hold ? ::CreateFileW(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr);
  if (held.get() == INVALID_HANDLE_VALUE) {
    Print(L"  FAIL  cannot hold the output open");
    return 1;
  }
  return WithSession(exe, [&](Session& session, Checks& checks) { CheckRefused(session, checks, output, title); });
}

// The layout at a screen density, worked out from the table the way the
// design says: the font is 12 pixels at 96 dots per inch, and every size is
// scaled by the height of "0" in it over 14.
class Design {
 public:
  explicit Design(int dpi)
      : font_(::CreateFontW(-::MulDiv(12, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                            L"MS Shell Dlg 2")) {
    textHeight_ = Measure(L"0").cy;
  }
  Design(const Design&) = delete;
  Design& operator=(const Design&) = delete;
  ~Design() { ::DeleteObject(font_); }

  int Scale(int pixels) const { return ::MulDiv(pixels, textHeight_, 14); }
  HFONT font() const { return font_; }
  SIZE Measure(const std::wstring& text) const {
    const HDC screen = ::GetDC(nullptr);
    const HGDIOBJ old = ::SelectObject(screen, font_);
    SIZE size{};
    ::GetTextExtentPoint32W(screen, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
    return size;
  }
  // A label is sized to its text plus the etched copy's shift (one layout
  // pixel), and keeps its right edge.
  RECT Place(const halfmap::ui::Control& control) const {
    RECT place{Scale(control.left), Scale(control.top), Scale(control.left + control.width),
               Scale(control.top + control.height)};
    if (control.kind == halfmap::ui::Kind::Label) {
      const int etch = std::max(1, Scale(1));
      const SIZE text = Measure(kMaps[static_cast<int>(control.id) - static_cast<int>(Id::Label1)]);
      place.left = place.right - text.cx - etch;
      place.bottom = place.top + text.cy + etch;
    }
    return place;
  }

 private:
  HFONT font_;
  int textHeight_ = 14;
};

std::wstring Describe(const RECT& r) {
  return L"(" + std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L")-(" + std::to_wstring(r.right) + L"," +
         std::to_wstring(r.bottom) + L")";
}

int Lightness(COLORREF c) { return (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3; }

// A present map's label in the window-text colour; a missing one's etched
// in the button highlight and shadow colours, with nothing darker than the
// shadow. Text edges are smoothed, so only part of a stroke has the exact
// colour.
void CheckLabelLooks(Session& session, Checks& checks, const std::wstring& at) {
  const COLORREF highlight = ::GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
  for (const Id id : {Id::Label1, Id::Label2, Id::Label3}) {
    const bool present = session.Enabled(id);
    const auto looksRight = [&] {
      const std::vector<COLORREF> pixels = Pixels(session.Control(id));
      const auto count = [&](auto holds) { return std::count_if(pixels.begin(), pixels.end(), holds); };
      const auto darker = count([&](COLORREF c) { return Lightness(c) < Lightness(shadow); });
      const auto highlighted = count([&](COLORREF c) { return c == highlight; });
      const auto shadowed = count([&](COLORREF c) { return c == shadow; });
      return present ? darker > 0 && highlighted == 0 : darker == 0 && highlighted > 0 && shadowed > 0;
    };
    const std::wstring name(halfmap::ui::ControlFor(id).name.begin(), halfmap::ui::ControlFor(id).name.end());
    // The window repaints in its own time.
    checks.That(WaitUntil(looksRight, 5s), name + (present ? L" drawn plainly" : L" drawn etched") + at);
  }
}

void CheckLayout(Session& session, Checks& checks, int dpi) {
  const Design design(dpi);
  const std::wstring at = L" at " + std::to_wstring(dpi) + L" dpi";
  RECT client{};
  ::GetClientRect(session.window(), &client);
  checks.That(client.right == design.Scale(270) && client.bottom == design.Scale(158),
              L"client area " + Describe(client) + at);
  for (const halfmap::ui::Control& control : halfmap::ui::kControls) {
    if (control.kind == halfmap::ui::Kind::Bevel) continue;
    const RECT seen = ChildRect(session.Control(control.id));
    const std::wstring name(control.name.begin(), control.name.end());
    if (control.kind == halfmap::ui::Kind::StatusBar) {
      checks.That(seen.left == 0 && seen.right == client.right && seen.bottom == client.bottom,
                  name + L" docked at the bottom " + Describe(seen) + at);
      // In the labels' font, whose Japanese glyphs the system's status font may lack.
      const int height = StatusBarHeight(design.font());
      checks.That(seen.bottom - seen.top == height,
                  name + L" as high as in the labels' font (" + std::to_wstring(height) + L")" + at);
      continue;
    }
    const RECT wanted = design.Place(control);
    checks.That(::EqualRect(&seen, &wanted) != FALSE,
                name + L" " + Describe(seen) + at + (::EqualRect(&seen, &wanted) ? L"" : L", wanted " + Describe(wanted)));
  }
  CheckLabelLooks(session, checks, at);
}

// The children in creation order, which is also the order in which the
// system looks for the label that names a control without text of its own.
void CheckCreationOrder(Session& session, Checks& checks) {
  const std::pair<Id, std::wstring> order[] = {
      {Id::Label1, kMaps[0]}, {Id::Bar1, L""},  {Id::Label2, kMaps[1]},  {Id::Bar2, L""},   {Id::Label3, kMaps[2]},
      {Id::Bar3, L""},        {Id::Button1, L"実行"}, {Id::Button2, kQuit}, {Id::Stsbar, kReady}};
  HWND child = ::GetWindow(session.window(), GW_CHILD);
  for (const auto& [id, text] : order) {
    const std::wstring name(halfmap::ui::ControlFor(id).name.begin(), halfmap::ui::ControlFor(id).name.end());
    checks.That(child == session.Control(id), L"next child is " + name);
    // WM_GETTEXT is what the accessibility layer reads, the status bar's
    // text included.
    checks.Equal(Text(child), text, name + L" text");
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  checks.That(child == nullptr, L"no other child");
  for (int i = 0; i < 3; ++i) {
    const HWND bar = session.Control(static_cast<Id>(static_cast<int>(Id::Bar1) + i));
    const HWND before = ::GetWindow(bar, GW_HWNDPREV);
    wchar_t kind[32] = {};
    ::GetClassNameW(before, kind, 32);
    checks.That(::lstrcmpiW(kind, L"Static") == 0 && Text(before) == kMaps[i],
                L"the label just before Bar" + std::to_wstring(i + 1) + L" names it " + kMaps[i]);
  }
}

// The window moves to a screen of another density and back.
int Layout(const std::wstring& exe) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    CheckCreationOrder(session, checks);
    checks.Equal(session.Status(), Text(session.Control(Id::Stsbar)), L"status text asked as a status bar");
    checks.Equal(AccessibleOf(session.Control(Id::Stsbar)).name, kReady, L"status bar's accessible name");
    // Only the NS map is missing: its label and bar read as unavailable.
    for (const Id id : {Id::Label1, Id::Bar1, Id::Label2, Id::Bar2}) {
      const bool missing = id == Id::Label2 || id == Id::Bar2;
      const std::wstring name(halfmap::ui::ControlFor(id).name.begin(), halfmap::ui::ControlFor(id).name.end());
      const AccessibleView view = AccessibleOf(session.Control(id));
      checks.That(view.found && ((view.state & STATE_SYSTEM_UNAVAILABLE) != 0) == missing,
                  name + (missing ? L" unavailable" : L" available") + L" to the accessibility layer");
    }
    const HDC screen = ::GetDC(nullptr);
    const int start = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    CheckLayout(session, checks, start);
    int current = start;
    int corner = 10;
    for (const int dpi : {start * 3 / 2, start * 2, start}) {
      RECT frame{};
      ::GetWindowRect(session.window(), &frame);
      // As the system suggests it: the frame scaled, at a new place that
      // keeps it on this small screen.
      const RECT suggested{corner, corner, corner + ::MulDiv(frame.right - frame.left, dpi, current),
                           corner + ::MulDiv(frame.bottom - frame.top, dpi, current)};
      corner += 10;
      checks.That(SendDpiChanged(session.program(), session.window(), dpi, suggested),
                  L"WM_DPICHANGED to " + std::to_wstring(dpi) + L" dpi handled");
      current = dpi;
      ::GetWindowRect(session.window(), &frame);
      checks.That(frame.left == suggested.left && frame.top == suggested.top, L"window placed where suggested");
      CheckLayout(session, checks, dpi);
    }
    checks.Equal(session.Status(), kReady, L"status after the changes");
    Key(session.Control(Id::Button2), VK_RETURN);
    session.ExpectExit(L"Enter on the focused Button2");
  });
}

// For the benchmarks: Tab to Run, then the clock starts with Enter and stops
// when the last output appears, which its rename into place makes happen.
int TimedRun(const std::wstring& exe, const std::wstring& lastOutput) {
  return WithSession(exe, [&](Session& session, Checks& checks) {
    const auto written = [&] { return ::GetFileAttributesW(lastOutput.c_str()) != INVALID_FILE_ATTRIBUTES; };
    if (!checks.That(!written(), L"last output absent before the run")) return;
    Key(session.Control(Id::Button2), VK_TAB);
    checks.That(WaitUntil([&] { return FocusOf(session.window()) == session.Control(Id::Button1); }, 5s),
                L"focus on Button1");
    const auto start = std::chrono::steady_clock::now();
    Key(session.Control(Id::Button1), VK_RETURN);
    WaitUntil(written, kRunTimeout, 1ms);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    checks.That(written(), L"last output written");
    checks.That(session.WaitRunEnd(), L"run ended");
    checks.Equal(session.Status(), kFinished, L"status after the run");
    PROCESS_MEMORY_COUNTERS memory{};
    ::GetProcessMemoryInfo(session.program().process().get(), &memory, sizeof memory);
    Click(session.Control(Id::Button2));
    session.ExpectExit(L"Quit after the run");
    Print(L"seconds " + std::to_wstring(took.count()));
    Print(L"peak KiB " + std::to_wstring(memory.PeakWorkingSetSize / 1024));
  });
}

int Show(const std::wstring& exe, const std::wstring& marker) {
  return WithSession(exe, [&](Session& session, Checks&) {
    const Handle file(::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    (void)file;
    WaitUntil([&] { return ::GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES; }, 60s);
    Click(session.Control(Id::Button2));
    session.ExpectExit(L"Quit");
  });
}

// As a scanner or a sync client holds a fresh file: the run must wait it
// out when it is brief, and fail leaving the file alone when it is not.
// The hold starts before the program and ends ms after appears exists (the
// run has got past the maps before the held one), or when the program ends.
int HoldWhileRunning(const std::wstring& exe, const std::wstring& file, int ms, const std::wstring& appears,
                     const std::wstring& arguments) {
  Handle held(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (held.get() == INVALID_HANDLE_VALUE) {
    Print(L"  FAIL  cannot hold " + file);
    return 99;
  }
  const Program program(exe, arguments);
  const auto exists = [&] { return ::GetFileAttributesW(appears.c_str()) != INVALID_FILE_ATTRIBUTES; };
  WaitUntil([&] { return exists() || !program.Running(); }, kRunTimeout, 1ms);
  DWORD code = 99;
  program.WaitExit(std::chrono::milliseconds(ms), code);
  held.Reset(nullptr);
  if (!program.WaitExit(kRunTimeout, code)) return 99;
  return static_cast<int>(code);
}

// LongPath gives CreateFileW and the rest the form that lifts MAX_PATH;
// Wine enforces no limit, so the form itself is checked.
int LongPaths() {
  Checks checks;
  std::wstring current(MAX_PATH, L'\0');
  current.resize(::GetCurrentDirectoryW(MAX_PATH, current.data()));
  if (current.back() != L'\\') current += L'\\';
  const std::wstring deep = L"C:\\maps\\" + std::wstring(300, L'd') + L"\\MAP29361206-1.BMP";
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\maps\\MAP29361206-1.BMP", L"\\\\?\\C:\\maps\\MAP29361206-1.BMP"},
      {L"C:/maps/old/../MAP29361206-1.BMP", L"\\\\?\\C:\\maps\\MAP29361206-1.BMP"},
      {deep, L"\\\\?\\" + deep},
      {L"MAP29361206-1.BMP", L"\\\\?\\" + current + L"MAP29361206-1.BMP"},
      {L"\\\\server\\share\\maps\\MAP29361206-1.BMP", L"\\\\?\\UNC\\server\\share\\maps\\MAP29361206-1.BMP"},
      {L"\\\\?\\C:\\maps\\..\\a", L"\\\\?\\C:\\maps\\..\\a"},
      {L"\\\\.\\CON", L"\\\\.\\CON"},
  };
  for (const auto& [given, wanted] : cases) {
    checks.Equal(mapconv::fs::LongPath(given), wanted, L"long form of " + given.substr(0, 60));
  }
  return checks.ExitCode();
}

int Usage() {
  Print(
      L"usage: wine_driver "
      L"probe|keys|closebox|run|drop|two-folders|abort|abort-by-key|close-during-run|quit-during-run|held|read-only|layout|show|"
      L"timed-run|hold|not-text <exe> [args]");
  Print(L"       wine_driver long-paths");
  return 2;
}

}  // namespace
}  // namespace wine_driver

int wmain(int argc, wchar_t** argv) {
  using namespace wine_driver;
  if (argc == 2 && std::wstring(argv[1]) == L"long-paths") return LongPaths();
  if (argc < 3) return Usage();
  // Sizes as they are on the screen, never scaled for an unaware program.
  ::SetProcessDPIAware();
  ::CoInitialize(nullptr);
  const std::wstring scenario = argv[1];
  const std::wstring exe = argv[2];
  if (scenario == L"probe" && argc == 4) return Probe(exe, argv[3]);
  if (scenario == L"keys") return Keys(exe);
  if (scenario == L"closebox") return CloseBox(exe);
  if (scenario == L"run") return Run(exe, argc == 4 ? argv[3] : L"");
  if (scenario == L"drop" && argc == 4) return Drop(exe, argv[3]);
  if (scenario == L"two-folders" && argc == 4) return TwoFolders(exe, argv[3]);
  if (scenario == L"abort") return Abort(exe, false);
  if (scenario == L"abort-by-key") return Abort(exe, true);
  if (scenario == L"close-during-run") return EndDuringRun(exe, false);
  if (scenario == L"quit-during-run") return EndDuringRun(exe, true);
  if (scenario == L"held" && argc == 5) return Refused(exe, argv[3], argv[4], true);
  if (scenario == L"read-only" && argc == 5) return Refused(exe, argv[3], argv[4], false);
  if (scenario == L"layout") return Layout(exe);
  if (scenario == L"show" && argc == 4) return Show(exe, argv[3]);
  if (scenario == L"timed-run" && argc == 4) return TimedRun(exe, argv[3]);
  if (scenario == L"not-text") {
    DWORD code = 99;
    Program(exe, L"bad\xD800name").WaitExit(kRunTimeout, code);
    return static_cast<int>(code);
  }
  if (scenario == L"hold" && argc >= 6) {
    std::wstring arguments;
    for (int i = 6; i < argc; ++i) arguments += (i > 6 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    return HoldWhileRunning(exe, argv[3], std::stoi(argv[4]), argv[5], arguments);
  }
  return Usage();
}
