#include <windows.h>

#include <algorithm>

#include "mapconv/win32/handles.h"

namespace mapconv::fs {
namespace {

constexpr DWORD kFirstWaitMs = 10;
constexpr DWORD kPatienceMs = 2000;

// Errors that mean another program has the file open right now. A refusal
// of access is not one: it is a permission, and waiting does not change it.
bool HeldByOther(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return true;
    default:
      return false;
  }
}

}  // namespace

DWORD RetryWhileHeld(const std::function<DWORD()>& attempt) {
  DWORD waited = 0;
  for (DWORD wait = kFirstWaitMs;; wait *= 2) {
    const DWORD error = attempt();
    if (error == ERROR_SUCCESS || !HeldByOther(error) || waited >= kPatienceMs) return error;
    const DWORD step = std::min(wait, kPatienceMs - waited);
    ::Sleep(step);
    waited += step;
  }
}

bool HeldForWriting(const std::filesystem::path& file) {
  // Shared only for reading: refused while anyone has the file open for writing.
  const File reader = Adopt(::CreateFileW(LongPath(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  return !reader && HeldByOther(::GetLastError());
}

bool SetDeleteOnClose(const File& file, bool remove) noexcept {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return ::SetFileInformationByHandle(Native(file), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

}  // namespace mapconv::fs
