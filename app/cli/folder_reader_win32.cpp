#include "app/cli/folder_reader_win32.h"

namespace halfmap::cli {

bool FolderReader::Open(const std::filesystem::path& folder, DWORD filter) {
  Close();
  // A failed open gives INVALID_HANDLE_VALUE, which is an empty File.
  folder_ = mapconv::fs::File(reinterpret_cast<mapconv::fs::File::Handle>(
      ::CreateFileW(mapconv::fs::LongPath(folder.empty() ? std::filesystem::path(L".") : folder).c_str(),
                    FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)));
  if (!folder_) return false;
  filter_ = filter;
  if (Start()) return true;
  Close();
  return false;
}

void FolderReader::Close() {
  if (!folder_) return;
  // The system must be done with the buffer before it goes.
  DWORD ignored = 0;
  if (::CancelIoEx(Folder(), &overlapped_)) ::GetOverlappedResult(Folder(), &overlapped_, &ignored, TRUE);
  folder_ = mapconv::fs::File();
}

std::optional<std::vector<std::wstring>> FolderReader::Take() {
  DWORD got = 0;
  const bool told = ::GetOverlappedResult(Folder(), &overlapped_, &got, FALSE) && got > 0;
  std::vector<std::wstring> names;
  for (DWORD at = 0; told;) {
    const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_.data() + at);
    if (info->Action != FILE_ACTION_REMOVED && info->Action != FILE_ACTION_RENAMED_OLD_NAME) {
      names.emplace_back(info->FileName, info->FileNameLength / sizeof(wchar_t));
    }
    if (info->NextEntryOffset == 0) break;
    at += info->NextEntryOffset;
  }
  if (!Start()) Close();
  if (!told) return std::nullopt;
  return names;
}

bool FolderReader::Start() {
  overlapped_ = {};
  overlapped_.hEvent = event_;
  return ::ReadDirectoryChangesW(Folder(), buffer_.data(), static_cast<DWORD>(buffer_.size()), FALSE, filter_, nullptr,
                                 &overlapped_, nullptr) != 0;
}

}  // namespace halfmap::cli
