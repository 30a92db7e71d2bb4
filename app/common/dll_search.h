// Where the programs look for DLLs that are loaded while they run.
#pragma once

#include <windows.h>

namespace halfmap::win32 {

// Makes the system folder the only place DLLs loaded from now on are looked
// for, so a DLL planted beside the executable (a shared maps folder) is
// never loaded. Called first thing in each entry point.
void LoadDllsFromSystemOnly() noexcept;

// Loads a DLL from the system folder by its full path. For DLLs outside the
// system's list of known ones, which as imports would be looked for beside
// the executable before anything of ours runs. Returns null on failure.
HMODULE LoadSystemDll(const wchar_t* name) noexcept;

// A function of a DLL in the system folder, loaded as LoadSystemDll loads
// it, rather than imported; null where the DLL or the function is missing.
template <typename Function>
Function SystemFunction(const wchar_t* dll, const char* name) noexcept {
  const HMODULE module = LoadSystemDll(dll);
  const FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

}  // namespace halfmap::win32
