// Where the programs look for DLLs that are loaded while they run.
#pragma once

namespace halfmap::win32 {

// Makes the system folder the only place DLLs loaded from now on are looked
// for, so a DLL planted beside the executable (a shared maps folder) is
// never loaded. Called first thing in each entry point.
void LoadDllsFromSystemOnly() noexcept;

}  // namespace halfmap::win32
