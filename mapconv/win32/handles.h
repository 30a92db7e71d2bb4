// What the Win32 file services share among their files: a File's HANDLE,
// the system's error codes, and the patience other programs' brief holds
// call for. Not for use outside mapconv/win32/.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "mapconv/file_services.h"

namespace mapconv::fs {

inline HANDLE Native(const File& file) { return reinterpret_cast<HANDLE>(file.get()); }

// Takes ownership of what CreateFileW returned; empty when it failed.
inline File Adopt(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return File();
  return File(reinterpret_cast<File::Handle>(handle));
}

inline std::error_code SystemCode(DWORD error) { return {static_cast<int>(error), std::system_category()}; }

// Virus scanners, indexers and sync clients open fresh files for a moment.
// Calls attempt (which returns ERROR_SUCCESS or the system's error) again
// while it fails because some other program holds the file, backing off
// from 10 ms, for about two seconds in all. Returns the last result.
DWORD RetryWhileHeld(const std::function<DWORD()>& attempt);

// Sets or clears the system's removal of the file when its last handle
// closes. The handle needs DELETE access.
bool SetDeleteOnClose(const File& file, bool remove) noexcept;

// The name the system reached through an open file, in the long form;
// empty when it cannot say.
std::wstring FinalName(const File& file);

// The regular file that path names, opened with DELETE access and the given
// sharing, never through a link or other reparse point, so that deleting by
// this handle deletes that name alone; empty otherwise.
File OpenPlainEntry(const std::filesystem::path& path, DWORD share);

}  // namespace mapconv::fs
