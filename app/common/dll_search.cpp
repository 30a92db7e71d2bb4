#include "app/common/dll_search.h"

#include <windows.h>

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

}  // namespace halfmap::win32
