// Deleting only what a name itself holds. Windows opens a link or other
// reparse point as itself when asked to; Wine has no such points and opens
// a Unix symlink's target instead, whatever is asked, and so would delete
// the target. Either way the handle tells: a reparse point says so in its
// attributes, and a target reached through a link has another final name.
#include <windows.h>

#include <string>

#include "mapconv/win32/handles.h"

namespace mapconv::fs {

std::wstring FinalName(const File& file) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(Native(file), name.data(), static_cast<DWORD>(name.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < name.size()) return name.substr(0, length);
    name.resize(length);  // the size asked for, counting the terminating zero
  }
}

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// True when the handle reached the entry that was named: not a link's
// target elsewhere, and not under another name in the same folder.
bool ReachedByName(const File& file, const std::filesystem::path& path) {
  const std::wstring final = FinalName(file);
  const std::wstring name = path.filename().native();
  if (final.size() < name.size()) return false;
  const std::wstring tail = final.substr(final.size() - name.size());
  const bool boundary = final.size() == name.size() || final[final.size() - name.size() - 1] == L'\\';
  return boundary && SameText(tail, name);
}

}  // namespace

File OpenPlainEntry(const std::filesystem::path& path, DWORD share) {
  File file = Adopt(::CreateFileW(LongPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_ATTRIBUTE_TAG_INFO kind{};
  if (!file || ::GetFileType(Native(file)) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandleEx(Native(file), FileAttributeTagInfo, &kind, sizeof kind)) {
    return File();
  }
  if ((kind.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return File();
  if (!ReachedByName(file, path)) return File();
  return file;
}

}  // namespace mapconv::fs
