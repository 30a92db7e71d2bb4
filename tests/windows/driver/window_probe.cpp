#include "tests/windows/driver/window_probe.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>  // DROPFILES

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

namespace wine_driver {

Program::Program(const std::wstring& exe, const std::wstring& arguments) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  const bool console = !arguments.empty();
  if (console) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
  }
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"\"" + exe + L"\"" + (console ? L" " + arguments : L"");
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, console ? TRUE : FALSE, 0, nullptr,
                        L"C:\\", &startup, &info)) {
    return;
  }
  process_.Reset(info.hProcess);
  thread_.Reset(info.hThread);
  id_ = info.dwProcessId;
  threadId_ = info.dwThreadId;
}

bool Program::Running() const {
  return process_.get() != nullptr && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool Program::WaitExit(std::chrono::milliseconds timeout, DWORD& code) const {
  if (process_.get() == nullptr) return false;
  if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return false;
  return ::GetExitCodeProcess(process_.get(), &code) != FALSE;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    std::this_thread::sleep_for(interval);
  }
  return true;
}

namespace {
// The hooks' callback knows no object; one counter is hooked at a time.
WinEvents* recording = nullptr;
}  // namespace

WinEvents::WinEvents(DWORD processId)
    : hook_(::SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr, &WinEvents::Record,
                              processId, 0, WINEVENT_OUTOFCONTEXT)) {
  recording = this;
}

WinEvents::~WinEvents() {
  if (hook_ != nullptr) ::UnhookWinEvent(hook_);
  recording = nullptr;
}

int WinEvents::Count(DWORD event, HWND hwnd) const {
  return static_cast<int>(std::count(seen_.begin(), seen_.end(), std::pair{event, hwnd}));
}

void CALLBACK WinEvents::Record(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (recording != nullptr && object == OBJID_CLIENT && child == CHILDID_SELF) recording->seen_.emplace_back(event, hwnd);
}

namespace {
struct Search {
  DWORD processId;
  const wchar_t* windowClass;
  HWND found;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hwnd, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (owner == search.processId && ::IsWindowVisible(hwnd) && std::wstring(name) == search.windowClass) {
    search.found = hwnd;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND FindTopWindow(DWORD processId, const wchar_t* windowClass) {
  Search search{processId, windowClass, nullptr};
  ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring Text(HWND hwnd) {
  wchar_t buffer[512] = {};
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &length);
  return std::wstring(buffer, static_cast<std::size_t>(length));
}

namespace {
// Memory in another process, for messages whose long parameter points at
// memory of the receiver's own.
class RemoteMemory {
 public:
  RemoteMemory(const Program& program, std::size_t size)
      : process_(program.process().get()),
        address_(::VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  ~RemoteMemory() {
    if (address_ != nullptr) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  void* address() const { return address_; }
  bool Write(const void* data, std::size_t size, std::size_t offset = 0) const {
    return ::WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, nullptr) != FALSE;
  }
  bool Read(void* data, std::size_t size, std::size_t offset = 0) const {
    return ::ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, nullptr) != FALSE;
  }

 private:
  HANDLE process_;
  void* address_;
};
}  // namespace

std::wstring StatusText(const Program& program, HWND status) {
  constexpr std::size_t kChars = 512;
  const RemoteMemory remote(program, kChars * sizeof(wchar_t));
  if (remote.address() == nullptr) return L"<no remote memory>";
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote.address()),
                        SMTO_ABORTIFHUNG, 5000, &result);
  std::vector<wchar_t> local(kChars, L'\0');
  remote.Read(local.data(), kChars * sizeof(wchar_t));
  local.back() = L'\0';
  return local.data();
}

bool SendDpiChanged(const Program& program, HWND window, int dpi, const RECT& suggested) {
  const RemoteMemory remote(program, sizeof suggested);
  if (remote.address() == nullptr || !remote.Write(&suggested, sizeof suggested)) return false;
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote.address()),
                               SMTO_ABORTIFHUNG, 10000, &result) != 0;
}

namespace {
struct ToolTipSearch {
  HWND owner;
  HWND tooltip = nullptr;
};
BOOL CALLBACK FindToolTip(HWND hwnd, LPARAM found) {
  auto& search = *reinterpret_cast<ToolTipSearch*>(found);
  wchar_t name[64]{};
  ::GetClassNameW(hwnd, name, 64);
  if (std::wstring(name) == TOOLTIPS_CLASSW && ::GetWindow(hwnd, GW_OWNER) == search.owner) search.tooltip = hwnd;
  return search.tooltip == nullptr ? TRUE : FALSE;
}
}  // namespace

std::wstring ToolTipOf(const Program& program, HWND tool) {
  ToolTipSearch search{::GetParent(tool)};
  ::EnumThreadWindows(program.threadId(), &FindToolTip, reinterpret_cast<LPARAM>(&search));
  if (search.tooltip == nullptr) return L"<no tooltip>";
  // The tool's description and the text buffer after it, both in the program.
  constexpr std::size_t kChars = 512;
  const RemoteMemory remote(program, sizeof(TTTOOLINFOW) + kChars * sizeof(wchar_t));
  if (remote.address() == nullptr) return L"<no remote memory>";
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.hwnd = search.owner;
  info.uId = reinterpret_cast<UINT_PTR>(tool);
  info.lpszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address()) + sizeof info);
  std::vector<wchar_t> text(kChars, L'\0');
  if (!remote.Write(&info, sizeof info) || !remote.Write(text.data(), text.size() * sizeof(wchar_t), sizeof info)) {
    return L"<not written>";
  }
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(search.tooltip, TTM_GETTEXTW, kChars, reinterpret_cast<LPARAM>(remote.address()),
                        SMTO_ABORTIFHUNG, 5000, &result);
  remote.Read(text.data(), text.size() * sizeof(wchar_t), sizeof info);
  text.back() = L'\0';
  return text.data();
}

bool DropFiles(const Program& program, HWND window, const std::wstring& path, const std::function<bool()>& takenUp) {
  // DROPFILES, then the path and a null, and a null ending the list.
  std::vector<std::byte> bytes(sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t));
  DROPFILES files{};
  files.pFiles = sizeof files;
  files.fWide = TRUE;
  std::memcpy(bytes.data(), &files, sizeof files);
  std::memcpy(bytes.data() + sizeof files, path.data(), path.size() * sizeof(wchar_t));
  // A drop is memory of the receiving process, which the system fills in
  // for Explorer's drags; so it is here, as no process can read another's
  // handle. A fixed block's handle is its address.
  const RemoteMemory remote(program, bytes.size());
  if (remote.address() == nullptr || !remote.Write(bytes.data(), bytes.size())) return false;
  if (!::PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote.address()), 0)) return false;
  return WaitUntil(takenUp, 10s);
}

RECT ChildRect(HWND child) {
  RECT rect{};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

int StatusBarHeight(HFONT font) {
  const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&classes);
  const std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&::DestroyWindow)> parent(
      ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr),
      &::DestroyWindow);
  const HWND bar = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | CCS_BOTTOM, 0, 0, 0, 0, parent.get(), nullptr,
                                     nullptr, nullptr);
  ::SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ::SendMessageW(bar, WM_SIZE, 0, 0);  // docks it
  return ChildRect(bar).bottom - ChildRect(bar).top;
}

std::vector<COLORREF> Pixels(HWND control) {
  ::RedrawWindow(control, nullptr, nullptr, RDW_UPDATENOW);
  RECT client{};
  ::GetClientRect(control, &client);
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = client.right;
  format.bmiHeader.biHeight = -client.bottom;  // top-down rows
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  // Read from the screen: another process's window DC has no pixels here.
  POINT origin{0, 0};
  ::ClientToScreen(control, &origin);
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP picture = ::CreateDIBSection(memory, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(memory, picture);
  ::BitBlt(memory, 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
  ::GdiFlush();
  // DIB pixels are blue, green, red from the low byte up.
  const auto* pixel = static_cast<const DWORD*>(bits);
  std::vector<COLORREF> pixels;
  for (long i = 0; pixel != nullptr && i < long{client.right} * client.bottom; ++i) {
    pixels.push_back(RGB((pixel[i] >> 16) & 0xFF, (pixel[i] >> 8) & 0xFF, pixel[i] & 0xFF));
  }
  ::SelectObject(memory, old);
  ::DeleteObject(picture);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

AccessibleView AccessibleOf(HWND control) {
  IAccessible* raw = nullptr;
  // __uuidof, not IID_IAccessible: the 64-bit import library resolves that
  // name to a function thunk instead of the identifier.
  if (FAILED(::AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&raw))) ||
      raw == nullptr) {
    return {};
  }
  const std::unique_ptr<IAccessible, void (*)(IAccessible*)> accessible(raw, [](IAccessible* a) { a->Release(); });
  AccessibleView view;
  view.found = true;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  if (accessible->get_accName(self, &name) == S_OK && name != nullptr) {
    view.name = name;
    ::SysFreeString(name);
  }
  VARIANT state{};
  if (accessible->get_accState(self, &state) == S_OK && state.vt == VT_I4) view.state = state.lVal;
  return view;
}

int BarPosition(HWND bar) { return static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0)); }

int BarMax(HWND bar) { return static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0)); }

HWND FocusOf(HWND hwnd) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(hwnd, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void Click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

void Key(HWND focus, UINT virtualKey) {
  // Repeat count 1 and the scan code; a release also has the previous-state
  // and transition bits set.
  const ULONG_PTR down = (ULONG_PTR{::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)} << 16) | 1;
  const ULONG_PTR up = down | 0xC0000000u;
  ::PostMessageW(focus, WM_KEYDOWN, virtualKey, static_cast<LPARAM>(down));
  ::PostMessageW(focus, WM_KEYUP, virtualKey, static_cast<LPARAM>(up));
}

}  // namespace wine_driver
