// One pending ReadDirectoryChangesW on a folder, for the Windows watch.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mapconv/file_services.h"

namespace halfmap::cli {

// Every reader of a watch sets the same event, so one wait covers any
// number of folders; a reader tells by its OVERLAPPED whether it is the one
// done.
class FolderReader {
 public:
  explicit FolderReader(HANDLE event) : event_(event) {}
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;
  ~FolderReader() { Close(); }

  // Starts reading changes of what filter names; false when the folder
  // cannot be opened.
  bool Open(const std::filesystem::path& folder, DWORD filter);

  // Lets go of the folder, so it can be removed.
  void Close();

  bool Reading() const { return static_cast<bool>(folder_); }
  bool Done() const { return Reading() && HasOverlappedIoCompleted(&overlapped_); }

  // Once Done: the names told, relative to the folder, or none when the
  // system lost count of them (its list overflowed, or the folder went
  // away). Starts the next read.
  std::optional<std::vector<std::wstring>> Take();

 private:
  bool Start();
  HANDLE Folder() const { return reinterpret_cast<HANDLE>(folder_.get()); }

  HANDLE event_;
  mapconv::fs::File folder_;
  DWORD filter_ = 0;
  OVERLAPPED overlapped_{};
  alignas(DWORD) std::array<std::byte, 16384> buffer_{};
};

}  // namespace halfmap::cli
