#include "tests/windows/driver/window_probe.h"

#include <commctrl.h>

#include <thread>
#include <vector>

namespace wine_driver {

Program::Program(const std::wstring& exe) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
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
    std::this_thread::sleep_for(interval);
  }
  return true;
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

std::wstring StatusText(const Program& program, HWND status) {
  // The status bar writes into memory of its own process.
  constexpr std::size_t kChars = 512;
  void* remote = ::VirtualAllocEx(program.process().get(), nullptr, kChars * sizeof(wchar_t),
                                  MEM_COMMIT, PAGE_READWRITE);
  if (remote == nullptr) return L"<no remote memory>";
  DWORD_PTR result = 0;
  // In simple mode the one text is part 0.
  ::SendMessageTimeoutW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote),
                        SMTO_ABORTIFHUNG, 5000, &result);
  std::vector<wchar_t> local(kChars, L'\0');
  ::ReadProcessMemory(program.process().get(), remote, local.data(), kChars * sizeof(wchar_t), nullptr);
  ::VirtualFreeEx(program.process().get(), remote, 0, MEM_RELEASE);
  local.back() = L'\0';
  return local.data();
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
