// Looking into another process's window from outside, as a user's tools
// would: find it, read its controls' texts and states, press its buttons.
// Handles are owned by the objects holding them.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// From Windows 8; the headers leave it out for a Windows 7 target, where it
// is simply not heard.
#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

namespace wine_driver {

using namespace std::chrono_literals;

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Handle& operator=(Handle&&) = delete;
  Handle(const Handle&) = delete;
  ~Handle() { Reset(nullptr); }
  void Reset(HANDLE handle) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The program under test, started with a current directory other than its
// own folder so that only the executable's path can lead it to the maps.
// Given arguments, it is a console program and writes where the driver does.
class Program {
 public:
  explicit Program(const std::wstring& exe, const std::wstring& arguments = L"");
  DWORD id() const { return id_; }
  DWORD threadId() const { return threadId_; }
  bool Running() const;
  // True when the process ended within the time; its exit code in code.
  bool WaitExit(std::chrono::milliseconds timeout, DWORD& code) const;
  const Handle& process() const { return process_; }
  // Holds the program's main thread still, and lets it go on again.
  void Suspend() const { ::SuspendThread(thread_.get()); }
  void Resume() const { ::ResumeThread(thread_.get()); }

 private:
  Handle process_;
  Handle thread_;
  DWORD id_ = 0;
  DWORD threadId_ = 0;
};

// Polls until done() holds or the time is up, handling this thread's
// messages meanwhile (window events arrive as messages).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = 10ms);

// Counts the window events a process raises, as a screen reader receives
// them: hooked out of context, delivered while this thread handles its
// messages (WaitUntil does).
class WinEvents {
 public:
  explicit WinEvents(DWORD processId);
  WinEvents(const WinEvents&) = delete;
  WinEvents& operator=(const WinEvents&) = delete;
  ~WinEvents();
  // Raised for hwnd's client area itself.
  int Count(DWORD event, HWND hwnd) const;

 private:
  static void CALLBACK Record(HWINEVENTHOOK hook, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD);
  HWINEVENTHOOK hook_;
  std::vector<std::pair<DWORD, HWND>> seen_;
};

// A visible top-level window of the process with this class, or null.
HWND FindTopWindow(DWORD processId, const wchar_t* windowClass);

std::wstring Text(HWND hwnd);
// The first part's text of a status bar in another process, asked the way
// only a status bar answers.
std::wstring StatusText(const Program& program, HWND status);
// Sends WM_DPICHANGED as the system would on a move to a screen of another
// density: the new dots per inch and the suggested window rectangle.
bool SendDpiChanged(const Program& program, HWND window, int dpi, const RECT& suggested);
// The text of the tooltip the program shows over tool, a child window.
std::wstring ToolTipOf(const Program& program, HWND tool);
// Drops path onto window with WM_DROPFILES, as Explorer's drags arrive,
// and keeps what it carries until takenUp() holds (up to 10 s): true then.
bool DropFiles(const Program& program, HWND window, const std::wstring& path, const std::function<bool()>& takenUp);
// A child window's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child);
// The height a status bar docks at in this font, from one of this
// process's own: what a status bar's font is shows in its height, as Wine
// answers no WM_GETFONT from another process.
int StatusBarHeight(HFONT font);

// The pixels of a control's client area as the screen shows them, row by
// row, once its pending repaints are done.
std::vector<COLORREF> Pixels(HWND control);

// What the system's accessibility layer (oleacc) tells a screen reader of
// a control. Needs COM initialised on the calling thread.
struct AccessibleView {
  bool found = false;
  std::wstring name;
  long state = 0;  // STATE_SYSTEM_* bits
};
AccessibleView AccessibleOf(HWND control);
int BarPosition(HWND bar);
int BarMax(HWND bar);
// The window that has the keyboard focus in the thread owning hwnd.
HWND FocusOf(HWND hwnd);

void Click(HWND button);
// A key pressed and released on the focused control, as the keyboard would
// send it.
void Key(HWND focus, UINT virtualKey);

}  // namespace wine_driver
