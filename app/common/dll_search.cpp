#include "app/common/dll_search.h"

#include <windows.h>

#include <string>

namespace halfmap::win32 {

void LoadDllsFromSystemOnly() noexcept {
  // Looked up at run time: Windows 7 has the call only with an update, and
  // a missing import would stop the program from starting. kernel32 is
  // always loaded already, so asking for it searches nowhere.
  using SetDefault = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC found = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  const auto setDefault = reinterpret_cast<SetDefault>(reinterpret_cast<void*>(found));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Without it, at least the current folder leaves the search.
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemDll(const wchar_t* name) noexcept {
  // A full path searches nowhere, on every Windows version.
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return ::LoadLibraryW((std::wstring(folder, length) + L'\\' + name).c_str());
}

}  // namespace halfmap::win32
