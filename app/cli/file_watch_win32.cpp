// The watch on Windows, over ReadDirectoryChangesW: changes inside each
// watched folder, and the folder names on every level above it, since
// Windows says nothing inside a folder that is renamed.
#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/cli/file_watch.h"
#include "app/cli/folder_reader_win32.h"
#include "mapconv/file_services.h"

namespace halfmap::cli {
namespace {

using mapconv::fs::File;

// An event of its own, reset by hand; empty when the system refuses one.
File NewEvent() {
  const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event == nullptr ? File() : File(reinterpret_cast<File::Handle>(event));
}

HANDLE Raw(const File& file) { return reinterpret_cast<HANDLE>(file.get()); }

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

std::optional<mapconv::fs::FileId> FolderId(const std::filesystem::path& path) {
  return mapconv::fs::IsFolder(path) ? mapconv::fs::IdOf(path) : std::nullopt;
}

// The folder names in one folder above watched ones, shared by all of them.
// It follows the path: once the folder there is another, it reads that one.
struct AboveReader {
  std::filesystem::path path;
  std::optional<mapconv::fs::FileId> id;  // the folder read; none while there is none
  FolderReader reader;

  AboveReader(std::filesystem::path at, HANDLE event) : path(std::move(at)), reader(event) { Follow(); }

  void Follow() {
    const auto now = FolderId(path);
    if (now && now == id && reader.Reading()) return;
    id = now && reader.Open(path, FILE_NOTIFY_CHANGE_DIR_NAME) ? now : std::nullopt;
    if (!id) reader.Close();
  }
};

// One watched folder: the changes inside it, and the folders above it,
// from the highest (below the drive's or share's root) down to its parent.
struct WatchedFolder {
  std::filesystem::path path;             // as the files name it, for matching
  std::filesystem::path absolute;         // for looking around it
  std::optional<mapconv::fs::FileId> id;  // the folder watched; none while it is gone
  FolderReader inside;
  std::vector<AboveReader*> above;

  static constexpr DWORD kFileChanges =
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

  explicit WatchedFolder(HANDLE event) : inside(event) {}

  // Compares the folder now at the path with the one watched: true when
  // one came back or another took its place, so every file in it counts as
  // saved; gone and replaced tell what became of the one watched.
  bool Look(std::vector<std::filesystem::path>& gone, std::vector<std::filesystem::path>& replaced) {
    const auto now = FolderId(absolute);
    if (now && now == id) return false;
    if (id) {
      inside.Close();
      (now ? replaced : gone).push_back(path);
    }
    id = now && inside.Open(path, kFileChanges) ? now : std::nullopt;
    return id.has_value();
  }
};

// The folders above path that a rename can take it away through: its parent
// always, then each further one short of the root.
std::vector<std::filesystem::path> FoldersAbove(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> above{path.parent_path()};
  while (above.back().parent_path().has_relative_path()) above.push_back(above.back().parent_path());
  std::reverse(above.begin(), above.end());
  return above;
}

}  // namespace

struct FileWatch::Native {
  File changed = NewEvent();                         // set by every reader
  std::vector<std::unique_ptr<AboveReader>> aboves;  // each path once
  std::vector<std::unique_ptr<WatchedFolder>> folders;
  std::vector<bool> saved;  // by file: changed, not yet handed on
  std::vector<std::filesystem::path> gone;
  std::vector<std::filesystem::path> replaced;

  AboveReader* AboveAt(const std::filesystem::path& path) {
    for (const auto& known : aboves) {
      if (known->path == path) return known.get();
    }
    return aboves.emplace_back(std::make_unique<AboveReader>(path, Raw(changed))).get();
  }

  void Add(const std::filesystem::path& path) {
    auto folder = std::make_unique<WatchedFolder>(Raw(changed));
    folder->path = path;
    folder->absolute = std::filesystem::absolute(path.empty() ? std::filesystem::path(L".") : path);
    folder->id = mapconv::fs::IdOf(folder->absolute);
    Check(folder->id && folder->inside.Open(path, WatchedFolder::kFileChanges));
    for (const auto& above : FoldersAbove(folder->absolute)) folder->above.push_back(AboveAt(above));
    folders.push_back(std::move(folder));
  }

  void MarkAll(const WatchedFolder& folder, const std::vector<std::filesystem::path>& files) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (SameName(files[i].parent_path() / L"x", folder.path / L"x")) saved[i] = true;
    }
  }

  // After a folder was renamed, removed or made above them or in place of
  // them: the folders looked up again along their paths, from the top.
  void Recheck(const std::vector<WatchedFolder*>& which, const std::vector<std::filesystem::path>& files) {
    std::vector<bool> back;
    for (auto* folder : which) back.push_back(folder->Look(gone, replaced));
    for (auto* folder : which) {
      for (auto* above : folder->above) above->Follow();
    }
    // What changed while the readers were opened again told nobody.
    for (std::size_t i = 0; i < which.size(); ++i) {
      if (which[i]->Look(gone, replaced) || back[i]) MarkAll(*which[i], files);
    }
  }

  // What every reader that is done has to tell.
  void TakeAll(const std::vector<std::filesystem::path>& files) {
    ::ResetEvent(Raw(changed));
    std::vector<AboveReader*> told;
    for (const auto& above : aboves) {
      if (!above->reader.Done()) continue;
      above->reader.Take();
      told.push_back(above.get());
    }
    std::vector<WatchedFolder*> moved;
    for (const auto& folder : folders) {
      const auto& above = folder->above;
      const bool under = std::find_first_of(above.begin(), above.end(), told.begin(), told.end()) != above.end();
      const auto names = folder->inside.Done() ? folder->inside.Take() : std::vector<std::wstring>();
      // Changes were lost, or the folder itself went.
      if (!names && folder->id) MarkAll(*folder, files);
      if (under || !names) moved.push_back(folder.get());
      for (const auto& name : names.value_or(std::vector<std::wstring>())) {
        for (std::size_t i = 0; i < files.size(); ++i) saved[i] = saved[i] || SameName(files[i], folder->path / name);
      }
    }
    if (!moved.empty()) Recheck(moved, files);
  }
};

FileWatch::FileWatch(std::vector<std::filesystem::path> files)
    : files_(std::move(files)), native_(std::make_unique<Native>()) {
  Check(gWake != nullptr && native_->changed);
  for (const auto& file : files_) {
    const std::filesystem::path path = file.parent_path();
    const auto& folders = native_->folders;
    if (std::none_of(folders.begin(), folders.end(), [&](const auto& known) { return known->path == path; })) {
      native_->Add(path);
    }
  }
}

FileWatch::~FileWatch() = default;

WatchNews FileWatch::Wait() {
  const std::array<HANDLE, 2> waits{gWake, Raw(native_->changed)};
  std::vector<bool>& saved = native_->saved;
  saved.resize(files_.size());
  // Takes the changes of every reader that is done, waiting up to timeout
  // for the first; false once woken.
  const auto take = [&](DWORD timeout) {
    for (DWORD woken; (woken = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                        timeout)) != WAIT_TIMEOUT;
         timeout = 0) {
      Check(woken != WAIT_FAILED);
      if (woken == WAIT_OBJECT_0) return false;
      native_->TakeAll(files_);
    }
    return true;
  };
  const auto none = [&] { return std::find(saved.begin(), saved.end(), true) == saved.end(); };
  while (none() && native_->gone.empty() && native_->replaced.empty()) {
    if (!take(INFINITE)) return {};
  }
  // Windows tells of writes as they happen, not of the writer's close, so a
  // file is handed on once no other program holds it for writing; the
  // changes told meanwhile belong to the same save. Only a file being
  // written is looked at again, and only until its writer is done.
  for (std::size_t i = 0; i < files_.size(); ++i) {
    while (saved[i] && mapconv::fs::HeldForWriting(files_[i])) {
      if (::WaitForSingleObject(gWake, 50) == WAIT_OBJECT_0) return {};
    }
  }
  if (!take(0)) return {};
  // A file saved again just now and still held waits for the next call.
  WatchNews news;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!saved[i] || mapconv::fs::HeldForWriting(files_[i])) continue;
    saved[i] = false;
    news.saved.push_back(files_[i]);
  }
  news.gone = std::exchange(native_->gone, {});
  news.replaced = std::exchange(native_->replaced, {});
  return news;
}

void WakeFileWatches() noexcept { ::SetEvent(gWake); }

}  // namespace halfmap::cli
