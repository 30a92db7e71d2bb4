#include "app/win32/win32_controls.h"

#include <commctrl.h>

#include <string>

#include "app/common/wide_text.h"

namespace halfmap::win32 {
namespace {

// Keeps a GDI object selected into a DC for one scope.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;
  ~Selected() { ::SelectObject(dc_, old_); }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

void DrawTextAt(HDC dc, const std::wstring& text, RECT rect, int colorIndex) {
  ::SetTextColor(dc, ::GetSysColor(colorIndex));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace

bool Win32Label::Enabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }

void Win32Label::SetEnabled(bool enabled) {
  ::EnableWindow(hwnd_, enabled);
  if (bar_ != nullptr) ::EnableWindow(bar_, enabled);
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void DrawLabel(const DRAWITEMSTRUCT& item, HFONT font, int etch) {
  const HDC dc = item.hDC;
  const RECT whole = item.rcItem;
  ::FillRect(dc, &whole, ::GetSysColorBrush(COLOR_BTNFACE));
  const Selected selected(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  const std::wstring text = WindowText(item.hwndItem);
  // Room for the etched copy right and below.
  const RECT place{whole.left, whole.top, whole.right - etch, whole.bottom - etch};
  if (::IsWindowEnabled(item.hwndItem)) {
    DrawTextAt(dc, text, place, COLOR_WINDOWTEXT);
    return;
  }
  RECT shifted = place;
  ::OffsetRect(&shifted, etch, etch);
  DrawTextAt(dc, text, shifted, COLOR_BTNHIGHLIGHT);
  DrawTextAt(dc, text, place, COLOR_BTNSHADOW);
}

bool Win32Button::Enabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }

void Win32Button::SetEnabled(bool enabled) { ::EnableWindow(hwnd_, enabled); }

void Win32Button::SetText(std::string_view text) { ::SetWindowTextW(hwnd_, Widen(text).c_str()); }

void Win32Button::SetFocus() { ::SetFocus(hwnd_); }

void Win32Status::Attach(HWND hwnd, AccessibleProps& props) {
  ChildWindow::Attach(hwnd);
  props_ = &props;
  int rightEdge = -1;  // the part reaches the bar's right end
  ::SendMessageW(hwnd_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&rightEdge));
  props_->SetPoliteLiveRegion(hwnd_);
}

void Win32Status::SetText(std::string_view text) {
  text_ = text;
  const std::wstring wide = Widen(text);
  ::SendMessageW(hwnd_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  Describe();
  ::NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, hwnd_, OBJID_CLIENT, CHILDID_SELF);
}

void Win32Status::SetFolder(std::string_view folder) {
  folder_ = folder;
  std::wstring tip = Widen(folder);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = ::GetParent(hwnd_);
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  tool.lpszText = tip.data();  // copied by the tooltip
  if (tooltip_ == nullptr) {
    tooltip_ = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, tool.hwnd, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (tooltip_ != nullptr) ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  } else {
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  Describe();
}

void Win32Status::Describe() { props_->SetDescription(::GetParent(hwnd_), Widen(WindowDescription(text_, folder_))); }

void Win32Bar::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  shownMin_ = Min();
  shownMax_ = Max();
  ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(Min()), static_cast<LPARAM>(Max()));
}

void Win32Bar::Draw(int min, int max, int position) {
  if (hwnd_ == nullptr) return;
  if (min != shownMin_ || max != shownMax_) {
    ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    shownMin_ = min;
    shownMax_ = max;
    shownTenths_ = -1;
  }
  const int tenths = WholeTenths(min, max, position);
  if (tenths == shownTenths_) return;
  shownTenths_ = tenths;
  ::SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace halfmap::win32
