// What the system's accessibility layer (oleacc) says of our windows beyond
// what it reads from them itself: the status bar as a polite live region,
// and the main window's description. One object per window thread, which it
// initialises COM for; where COM or the property service is missing (an old
// system), nothing is annotated and the window works as before. (Wine's
// service takes the calls and keeps nothing.)
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <string>

// From Windows 8; the headers leave it out for a Windows 7 target, where it
// is simply not heard.
#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

namespace halfmap::win32 {

class AccessibleProps {
 public:
  AccessibleProps();
  AccessibleProps(const AccessibleProps&) = delete;
  AccessibleProps& operator=(const AccessibleProps&) = delete;
  ~AccessibleProps();

  // A screen reader reads a polite live region's text out, after what it is
  // saying, whenever the region raises EVENT_OBJECT_LIVEREGIONCHANGED.
  void SetPoliteLiveRegion(HWND control);
  void SetDescription(HWND window, const std::wstring& text);
  // Before window is destroyed, as the service keeps what it was given.
  void Clear(HWND window);

 private:
  bool com_ = false;
  IAccPropServices* services_ = nullptr;  // owned: released with this object
};

}  // namespace halfmap::win32
