#include "app/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/error_boundary.h"
#include "app/win32/control_ids.h"
#include "app/win32/dropped_files.h"
#include "app/win32/error_box.h"
#include "app/common/wide_text.h"
#include "resources/icon.h"

namespace halfmap::win32 {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// WS_EX_ACCEPTFILES: a folder dropped onto the window arrives as WM_DROPFILES.
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;

class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)) {}
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  ~ScreenDc() { ::ReleaseDC(nullptr, dc_); }
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

class PaintScope {
 public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { ::BeginPaint(hwnd_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  ~PaintScope() { ::EndPaint(hwnd_, &paint_); }
  HDC dc() const { return paint_.hdc; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
};

int SystemDpi() {
  const ScreenDc screen;
  return ::GetDeviceCaps(screen.get(), LOGPIXELSY);
}

// The window font, its character height scaled by dpi over 96.
FontHandle CreateWindowFont(int dpi) {
  const int height = -::MulDiv(ui::kFontHeight, dpi, 96);
  FontHandle font(::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, Widen(ui::kFontFace).c_str()));
  if (!font) throw std::runtime_error("cannot create the window font");
  return font;
}

SIZE TextSize(HFONT font, const std::wstring& text) {
  const ScreenDc screen;
  const HGDIOBJ old = ::SelectObject(screen.get(), font);
  SIZE size{};
  ::GetTextExtentPoint32W(screen.get(), text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(screen.get(), old);
  return size;
}

// Height of "0" in the font: the layout is drawn for 14.
int MeasureTextHeight(HFONT font) {
  const SIZE size = TextSize(font, L"0");
  return size.cy > 0 ? size.cy : ui::kDesignTextHeight;
}

HICON LoadOwnIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(HALFMAP_ICON), IMAGE_ICON,
                                         ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric), LR_SHARED));
}

void RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  // Shared icons from the executable's resources, at the sizes the system
  // shows; none in a test program that has no icon resource.
  windowClass.hIcon = LoadOwnIcon(windowClass.hInstance, SM_CXICON, SM_CYICON);
  windowClass.hIconSm = LoadOwnIcon(windowClass.hInstance, SM_CXSMICON, SM_CYSMICON);
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMainWindowClass;
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("cannot register the window class");
  }
}

int IndexFrom(ui::Id id, ui::Id first, ui::Kind kind) {
  if (ui::ControlFor(id).kind != kind) throw std::invalid_argument("control of another kind");
  return static_cast<int>(id) - static_cast<int>(first);
}

}  // namespace

void MainWindow::Create(TForm1& form) {
  form_ = &form;
  font_ = CreateWindowFont(SystemDpi());
  textHeight_ = MeasureTextHeight(font_.get());
  RegisterWindowClass(&MainWindow::WindowProc);
  RECT frame{0, 0, Scale(ui::kClientWidth), Scale(ui::kClientHeight)};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  // WM_NCCREATE stores this object with the window and sets hwnd_.
  const HWND created = ::CreateWindowExW(
      kExStyle, kMainWindowClass, Widen(ui::text::kCaption).c_str(), kStyle, CW_USEDEFAULT,
      CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
      ::GetModuleHandleW(nullptr), this);
  if (createFailure_) std::rethrow_exception(createFailure_);
  if (created == nullptr) throw std::runtime_error("cannot create the main window");
  window_.reset(created);
}

void MainWindow::Show() {
  RECT frame{};
  RECT work{};
  ::GetWindowRect(hwnd_, &frame);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // No UpdateWindow here: the probe posted while showing is taken from the
  // queue before the first WM_PAINT, so that paint already shows its result.
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
}

int MainWindow::RunMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
  return static_cast<int>(message.wParam);
}

LabelControl& MainWindow::Label(ui::Id id) {
  return labels_.at(IndexFrom(id, ui::Id::Label1, ui::Kind::Label));
}

ProgressBarControl& MainWindow::Bar(ui::Id id) {
  return bars_.at(IndexFrom(id, ui::Id::Bar1, ui::Kind::ProgressBar));
}

ButtonControl& MainWindow::Button(ui::Id id) {
  return buttons_.at(IndexFrom(id, ui::Id::Button1, ui::Kind::Button));
}

StatusControl& MainWindow::Status(ui::Id id) {
  IndexFrom(id, ui::Id::Stsbar, ui::Kind::StatusBar);
  return status_;
}

void MainWindow::PostProbeInputs() { ::PostMessageW(hwnd_, kWmProbeInputs, 0, 0); }

void MainWindow::ProcessPendingEvents() {
  // A conversion calls this before every row, and each look at the queue is
  // a trip to the window system (under Wine, to its server): look at most
  // once per interval, so a click still waits no longer than that.
  if (std::chrono::steady_clock::now() - lastEvents_ < kEventInterval) return;
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quitPending_ = static_cast<int>(message.wParam);
      continue;
    }
    Dispatch(message);
  }
  lastEvents_ = std::chrono::steady_clock::now();
}

void MainWindow::CloseWindow() {
  // Posted, so the button whose click asked for it is not destroyed while
  // its own window procedure is still running.
  ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void MainWindow::Dispatch(MSG& message) {
  // Tab, Enter, Space and Escape get the dialog keyboard interface.
  if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

template <typename Handler>
void MainWindow::Guarded(Handler handler) noexcept {
  RunHandler(handler, [this](const std::string& text) { ShowErrorBox(hwnd_, text); });
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    (void)self->window_.release();  // already being destroyed
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  LRESULT result = 0;
  // No exception may leave a window procedure.
  self->Guarded([&] { result = self->OnMessage(message, wParam, lParam); });
  return result;
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // A window without its controls is of no use: fail the creation and
      // let Create report why.
      try {
        OnCreate();
        return 0;
      } catch (...) {
        createFailure_ = std::current_exception();
        return -1;
      }
    case WM_SHOWWINDOW:
      if (wParam) form_->FormShow();
      return 0;
    case kWmProbeInputs:
      form_->WMProbeInputs();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_NEXTDLGCTL:
      if (LOWORD(lParam)) {
        ::SetFocus(reinterpret_cast<HWND>(wParam));
      } else {
        MoveFocus(wParam != 0);
      }
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return 0;
    case WM_DRAWITEM:
      DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), font_.get(), Etch());
      return TRUE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_SIZE:
      // The status bar docks itself at the bottom when told of a new size.
      ::SendMessageW(::GetDlgItem(hwnd_, ControlId(ui::Id::Stsbar)), WM_SIZE, 0, 0);
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_DESTROY:
      props_.Clear(status_.hwnd());
      props_.Clear(hwnd_);
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

void MainWindow::OnCreate() {
  for (const ui::Control& control : ui::kControls) CreateControl(control);
  // The first enabled control in tab order, taken now while Run is still
  // disabled: Button2. Later activation restores it instead of recomputing,
  // so a late activation after the probe does not land on Run.
  savedFocus_ = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  form_->FormCreate();
}

void MainWindow::CreateControl(const ui::Control& control) {
  const RECT place = Place(control);
  if (control.kind == ui::Kind::Bevel) {
    bevel_ = place;  // painted by the window itself, behind the controls
    return;
  }
  const wchar_t* windowClass = L"STATIC";
  DWORD style = WS_CHILD | WS_VISIBLE | (control.enabled ? 0 : WS_DISABLED);
  switch (control.kind) {
    case ui::Kind::Label: style |= SS_OWNERDRAW; break;
    case ui::Kind::ProgressBar: windowClass = PROGRESS_CLASSW; break;
    case ui::Kind::Button: windowClass = L"BUTTON"; style |= BS_PUSHBUTTON | WS_TABSTOP; break;
    case ui::Kind::StatusBar: windowClass = STATUSCLASSNAMEW; style |= CCS_BOTTOM; break;
    case ui::Kind::Bevel: break;
  }
  const HWND child = ::CreateWindowExW(
      0, windowClass, Widen(control.text).c_str(), style, place.left, place.top,
      place.right - place.left, place.bottom - place.top, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(control.id))),
      ::GetModuleHandleW(nullptr), nullptr);
  if (child == nullptr) throw std::runtime_error("cannot create a control");
  // The status bar too: the system's status font may have no Japanese glyphs
  // (a fresh Wine prefix has none), and the bar then shows boxes.
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  switch (control.kind) {
    case ui::Kind::Label: labels_.at(IndexFrom(control.id, ui::Id::Label1, control.kind)).Attach(child); break;
    case ui::Kind::ProgressBar: {
      const int index = IndexFrom(control.id, ui::Id::Bar1, control.kind);
      bars_.at(index).Attach(child);
      labels_.at(index).AttachBar(child);
      break;
    }
    case ui::Kind::Button: buttons_.at(IndexFrom(control.id, ui::Id::Button1, control.kind)).Attach(child); break;
    case ui::Kind::StatusBar: status_.Attach(child, props_); break;
    case ui::Kind::Bevel: break;
  }
}

RECT MainWindow::Place(const ui::Control& control) const {
  RECT place{Scale(control.left), Scale(control.top), Scale(control.left + control.width),
             Scale(control.top + control.height)};
  if (control.kind == ui::Kind::Label) {
    // Sized to its text and its etched copy; the right edge stays where the
    // layout puts it, just left of the bar.
    const SIZE text = TextSize(font_.get(), Widen(control.text));
    place.left = place.right - text.cx - Etch();
    place.bottom = place.top + text.cy + Etch();
  }
  return place;
}

void MainWindow::OnDpiChanged(int dpi, const RECT& suggested) {
  // The old font stays alive until every control has been given the new one.
  const FontHandle oldFont = std::exchange(font_, CreateWindowFont(dpi));
  textHeight_ = MeasureTextHeight(font_.get());
  // Before the resize, which docks the status bar at its new font's height.
  ::SendMessageW(status_.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea();
  LayOutControls();
}

void MainWindow::FitClientArea() {
  // The frame's size at this DPI is known only once the window is there:
  // correct the suggested size by what the client area misses.
  RECT client{};
  RECT frame{};
  ::GetClientRect(hwnd_, &client);
  ::GetWindowRect(hwnd_, &frame);
  const int width = frame.right - frame.left + Scale(ui::kClientWidth) - client.right;
  const int height = frame.bottom - frame.top + Scale(ui::kClientHeight) - client.bottom;
  ::SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::LayOutControls() {
  for (const ui::Control& control : ui::kControls) {
    const RECT place = Place(control);
    if (control.kind == ui::Kind::Bevel) bevel_ = place;
    // The status bar docks itself (on WM_SIZE).
    if (control.kind == ui::Kind::Bevel || control.kind == ui::Kind::StatusBar) continue;
    const HWND child = ::GetDlgItem(hwnd_, ControlId(control.id));
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    // No bits copied: what a control showed at the old size is wrong at the
    // new one.
    ::SetWindowPos(child, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
  }
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::OnCommand(int id) {
  if (id == ControlId(ui::Id::Button1)) {
    OnRunClicked();
  } else if (id == ControlId(ui::Id::Button2)) {
    form_->Button2Click();
  } else if (id == IDOK) {
    // Enter, from the dialog keyboard interface.
    PressFocusedButton();
  }
  // IDCANCEL (Escape) is ignored on purpose: no button answers to it.
}

void MainWindow::OnRunClicked() {
  Guarded([this] { form_->Button1Click(); });
  // Only now, with the run over and any error shown, may the program end.
  if (closePending_) {
    closePending_ = false;
    ::DestroyWindow(hwnd_);
  }
  if (quitPending_) {
    ::PostQuitMessage(*quitPending_);
    quitPending_.reset();
  }
}

void MainWindow::PressFocusedButton() {
  const HWND focus = ::GetFocus();
  for (const Win32Button& button : buttons_) {
    if (button.hwnd() == focus && button.Enabled()) OnCommand(::GetDlgCtrlID(focus));
  }
}

void MainWindow::MoveFocus(bool backward) {
  if (const HWND next = ::GetNextDlgTabItem(hwnd_, ::GetFocus(), backward)) ::SetFocus(next);
}

void MainWindow::OnActivate(bool active) {
  if (!active) {
    const HWND focus = ::GetFocus();
    if (focus != nullptr && ::IsChild(hwnd_, focus)) savedFocus_ = focus;
    return;
  }
  if (savedFocus_ == nullptr || !::IsWindowEnabled(savedFocus_)) {
    savedFocus_ = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  }
  if (savedFocus_ != nullptr) ::SetFocus(savedFocus_);
}

void MainWindow::OnClose() {
  // Closing during a run waits for the run's handler to return; the window
  // stays, and Abort keeps working meanwhile.
  if (form_->runState() == RunState::Running) {
    closePending_ = true;
    return;
  }
  ::DestroyWindow(hwnd_);
}

void MainWindow::OnDropFiles(HDROP drop) {
  const std::vector<std::filesystem::path> dropped = DroppedFiles(drop);
  form_->FolderDropped(dropped);
}

void MainWindow::OnPaint() {
  const PaintScope paint(hwnd_);
  RECT bevel = bevel_;
  ::DrawEdge(paint.dc(), &bevel, BDR_SUNKENOUTER, BF_RECT);
}

int MainWindow::Scale(int pixels) const { return ::MulDiv(pixels, textHeight_, ui::kDesignTextHeight); }

int MainWindow::Etch() const { return std::max(1, Scale(1)); }

}  // namespace halfmap::win32
