#include "mapconv/file_services.h"

#include <windows.h>

namespace mapconv::fs {
namespace {

// GetFullPathNameW's result, growing the buffer until it fits.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the size asked for, counting the terminating zero
  }
}

}  // namespace

std::wstring LongPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  if (given.starts_with(L"\\\\?\\") || given.starts_with(L"\\\\.\\")) return given;
  const std::wstring full = FullPath(given);
  if (full.starts_with(L"\\\\.\\")) return full;  // a device name such as CON
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return full;
}

}  // namespace mapconv::fs
