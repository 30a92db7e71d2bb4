#include "app/win32/win32_controls.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "app/wide_text.h"

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

void Win32Status::Attach(HWND hwnd) {
  ChildWindow::Attach(hwnd);
  int rightEdge = -1;  // the part reaches the bar's right end
  ::SendMessageW(hwnd_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&rightEdge));
}

void Win32Status::SetText(std::string_view text) {
  const std::wstring wide = Widen(text);
  ::SendMessageW(hwnd_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

namespace {

constexpr int kChunkGap = 2;

// a * b / c rounded to the nearest, as MulDiv does, for a, b >= 0 and c > 0.
std::int64_t MulDivRounded(std::int64_t a, std::int64_t b, std::int64_t c) { return (2 * a * b + c) / (2 * c); }

}  // namespace

int DrawnLength(int min, int max, int position, SIZE inside) {
  if (max <= min || inside.cx <= 0) return 0;
  // 64 bits: a range of two billion times a bar width overflows an int.
  const std::int64_t end = MulDivRounded(std::int64_t{position} - min, inside.cx, std::int64_t{max} - min);
  const std::int64_t chunk = MulDivRounded(std::max<LONG>(inside.cy, 0), 2, 3) + kChunkGap;
  return static_cast<int>(std::min<std::int64_t>((end + chunk - 1) / chunk * chunk, inside.cx));
}

void Win32Bar::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  shownMin_ = Min();
  shownMax_ = Max();
  ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(Min()), static_cast<LPARAM>(Max()));
  Resized();
}

void Win32Bar::Resized() {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  // The control paints inside a 1-pixel border.
  inside_ = {client.right - client.left - 2, client.bottom - client.top - 2};
  shownLength_ = -1;
  Redraw();
}

void Win32Bar::Draw(int min, int max, int position) {
  if (hwnd_ == nullptr) return;
  if (min != shownMin_ || max != shownMax_) {
    ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    shownMin_ = min;
    shownMax_ = max;
    shownLength_ = -1;
  }
  // The last chunk may be painted well before the end; the end itself is
  // sent all the same, so the control's position finishes at its maximum.
  const int length = DrawnLength(min, max, position, inside_);
  const bool full = position == max;
  if (length == shownLength_ && full == shownFull_) return;
  shownLength_ = length;
  shownFull_ = full;
  ::SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace halfmap::win32
