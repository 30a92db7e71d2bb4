// The watch on Windows, over ReadDirectoryChangesW.
#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/cli/file_watch.h"
#include "mapconv/file_services.h"
#include "mapconv/win32/long_path.h"

namespace halfmap::cli {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The wake-up every watch also waits on; made before main and never closed,
// so the console's control handler, on a thread of its own, can set it.
const HANDLE gWake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

void Check(bool ok) {
  if (!ok) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
}

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a.parent_path() == b.parent_path() &&
         ::CompareStringOrdinal(a.filename().c_str(), -1, b.filename().c_str(), -1, TRUE) == CSTR_EQUAL;
}

// One pending ReadDirectoryChangesW on a folder. Its event lives as long as
// it does, so the list of waits stays the same while folders come and go.
class FolderReader {
 public:
  FolderReader() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) { Check(event_ != nullptr); }
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;
  ~FolderReader() { Close(); }

  HANDLE event() const { return event_.get(); }

  // Starts reading changes of what filter names; false when the folder
  // cannot be opened.
  bool Open(const std::filesystem::path& folder, DWORD filter, bool subtree) {
    Close();
    folder_.reset(::CreateFileW(mapconv::fs::LongPath(folder.empty() ? std::filesystem::path(L".") : folder).c_str(),
                                FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (folder_.get() == INVALID_HANDLE_VALUE) {
      folder_.reset();
      return false;
    }
    filter_ = filter;
    subtree_ = subtree ? TRUE : FALSE;
    if (Start()) return true;
    Close();
    return false;
  }

  // Lets go of the folder, so it can be removed; the event stays unset.
  void Close() {
    if (folder_ == nullptr) return;
    // The system must be done with the buffer before it goes.
    DWORD ignored = 0;
    if (::CancelIoEx(folder_.get(), &overlapped_)) ::GetOverlappedResult(folder_.get(), &overlapped_, &ignored, TRUE);
    folder_.reset();
    ::ResetEvent(event_.get());
  }

  // Once the event is set: the names told, relative to the folder, or none
  // when the system lost count of them (its list overflowed, or the folder
  // went away). Starts the next read.
  std::optional<std::vector<std::wstring>> Take() {
    DWORD got = 0;
    if (folder_ == nullptr) return std::vector<std::wstring>();
    const bool told = ::GetOverlappedResult(folder_.get(), &overlapped_, &got, FALSE) && got > 0;
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

 private:
  bool Start() {
    ::ResetEvent(event_.get());
    overlapped_ = {};
    overlapped_.hEvent = event_.get();
    return ::ReadDirectoryChangesW(folder_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), subtree_,
                                   filter_, nullptr, &overlapped_, nullptr) != 0;
  }

  Handle event_;
  Handle folder_;
  DWORD filter_ = 0;
  BOOL subtree_ = FALSE;
  OVERLAPPED overlapped_{};
  alignas(DWORD) std::array<std::byte, 16384> buffer_{};
};

bool IsFolder(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(mapconv::fs::LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The nearest folder above path that is there (a drive's root at worst).
std::filesystem::path NearestAbove(const std::filesystem::path& path) {
  std::filesystem::path above = path.parent_path();
  while (!IsFolder(above) && above.has_relative_path()) above = above.parent_path();
  return above;
}

// One watched folder: the changes inside it, and the names of the folders
// around it, which tell when it is renamed away, removed or back. Windows
// says nothing inside a folder that is renamed.
struct WatchedFolder {
  std::filesystem::path path;      // as the files name it, for matching
  std::filesystem::path absolute;  // for looking around it
  std::optional<mapconv::fs::FileId> id;  // the folder watched; none while it is gone
  FolderReader inside;
  FolderReader around;

  static constexpr DWORD kFileChanges =
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

  // Watches from the folder's parent, or while the parent is gone too from
  // the nearest folder above it, with everything below.
  void WatchAround() {
    const std::filesystem::path above = NearestAbove(absolute);
    around.Open(above, FILE_NOTIFY_CHANGE_DIR_NAME, above != absolute.parent_path());
  }

  // Raises std::system_error when the folder cannot be watched at the start.
  void Start() {
    id = mapconv::fs::IdOf(absolute);
    Check(id && inside.Open(path, kFileChanges, false));
    WatchAround();
  }

  // After something changed around it or inside it: true when the folder
  // came back (or another took its place), so every file in it counts as
  // saved; gone tells when it went.
  bool Recheck(std::vector<std::filesystem::path>& gone) {
    const bool back = Look(gone);
    WatchAround();
    // What changed while the reader around it was opened again told nobody.
    return Look(gone) || back;
  }

  // Compares the folder now at the path with the one watched.
  bool Look(std::vector<std::filesystem::path>& gone) {
    const auto now = IsFolder(absolute) ? mapconv::fs::IdOf(absolute) : std::nullopt;
    if (now && now == id) return false;
    if (id) {
      inside.Close();
      gone.push_back(path);
    }
    id = now && inside.Open(path, kFileChanges, false) ? now : std::nullopt;
    return id.has_value();
  }
};

}  // namespace

struct FileWatch::Native {
  std::vector<std::unique_ptr<WatchedFolder>> folders;
  std::vector<bool> saved;  // by file: changed, not yet handed on
  std::vector<std::filesystem::path> gone;

  void MarkAll(const WatchedFolder& folder, const std::vector<std::filesystem::path>& files) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (SameName(files[i].parent_path() / L"x", folder.path / L"x")) saved[i] = true;
    }
  }

  // What the reader at index (in the order of Waits) has to tell.
  void Take(std::size_t index, const std::vector<std::filesystem::path>& files) {
    WatchedFolder& folder = *folders[index / 2];
    const bool inside = index % 2 == 0;
    const auto names = (inside ? folder.inside : folder.around).Take();
    if (inside && names) {
      for (const auto& name : *names) {
        for (std::size_t i = 0; i < files.size(); ++i) saved[i] = saved[i] || SameName(files[i], folder.path / name);
      }
      return;
    }
    // Changes were lost, or the folder itself may have gone or come back.
    if (folder.Recheck(gone) || (inside && folder.id)) MarkAll(folder, files);
  }

  std::vector<HANDLE> Waits() const {
    std::vector<HANDLE> waits{gWake};
    for (const auto& folder : folders) {
      waits.push_back(folder->inside.event());
      waits.push_back(folder->around.event());
    }
    return waits;
  }
};

FileWatch::FileWatch(std::vector<std::filesystem::path> files)
    : files_(std::move(files)), native_(std::make_unique<Native>()) {
  Check(gWake != nullptr);
  // Two readers a folder and the wake-up, in one wait.
  constexpr std::size_t kMostFolders = (MAXIMUM_WAIT_OBJECTS - 1) / 2;
  for (const auto& file : files_) {
    const std::filesystem::path path = file.parent_path();
    bool known = false;
    for (const auto& folder : native_->folders) known = known || folder->path == path;
    if (known) continue;
    if (native_->folders.size() == kMostFolders) throw TooManyFolders(kMostFolders);
    auto folder = std::make_unique<WatchedFolder>();
    folder->path = path;
    folder->absolute = std::filesystem::absolute(path.empty() ? std::filesystem::path(L".") : path);
    folder->Start();
    native_->folders.push_back(std::move(folder));
  }
}

FileWatch::~FileWatch() = default;

WatchNews FileWatch::Wait() {
  const std::vector<HANDLE> waits = native_->Waits();
  std::vector<bool>& saved = native_->saved;
  saved.resize(files_.size());
  // Takes the changes of every reader whose event is set, waiting up to
  // timeout for the first; false once woken.
  const auto take = [&](DWORD timeout) {
    for (DWORD woken; (woken = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                        timeout)) != WAIT_TIMEOUT;
         timeout = 0) {
      Check(woken != WAIT_FAILED);
      if (woken == WAIT_OBJECT_0) return false;
      native_->Take(woken - WAIT_OBJECT_0 - 1, files_);
    }
    return true;
  };
  const auto none = [&] { return std::find(saved.begin(), saved.end(), true) == saved.end(); };
  while (none() && native_->gone.empty()) {
    if (!take(INFINITE)) return {};
  }
  // Windows tells of writes as they happen, not of the writer's close, so a
  // file is handed on once no other program holds it for writing; the
  // changes told meanwhile belong to the same save. Only a file being
  // written is looked at again, and only until its writer is done.
  for (std::size_t i = 0; i < files_.size(); ++i) {
    while (saved[i] && HeldForWriting(files_[i])) {
      if (::WaitForSingleObject(gWake, 50) == WAIT_OBJECT_0) return {};
    }
  }
  if (!take(0)) return {};
  // A file saved again just now and still held waits for the next call.
  WatchNews news;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!saved[i] || HeldForWriting(files_[i])) continue;
    saved[i] = false;
    news.saved.push_back(files_[i]);
  }
  news.gone = std::exchange(native_->gone, {});
  return news;
}

bool HeldForWriting(const std::filesystem::path& file) {
  const Handle reader(::CreateFileW(mapconv::fs::LongPath(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  return reader.get() == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

void WakeFileWatches() noexcept { ::SetEvent(gWake); }

}  // namespace halfmap::cli
