// The watch on Linux, over inotify, and the file-lease test for a writer.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "app/cli/file_watch.h"
#include "mapconv/file_services.h"

namespace halfmap::cli {
namespace {

// The wake-up every watch also waits on; made before main, so before any
// signal can come, and never closed, so a handler can always write to it.
const int gWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

void Check(bool ok) {
  if (!ok) throw std::system_error(errno, std::system_category());
}

// One mask for every watch: the system keeps one watch per folder, so a
// watched folder that is also the nearest one above a missing folder must
// not have its mask replaced.
constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A writer finished: a close after writing, or a rename into place.
constexpr std::uint32_t kFinished = IN_CLOSE_WRITE | IN_MOVED_TO;
// The watched folder itself went: removed, renamed away or unmounted.
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

std::filesystem::path Named(const std::filesystem::path& folder) { return folder.empty() ? "." : folder; }

bool Missing() { return errno == ENOENT || errno == ENOTDIR; }

template <class Item>
bool Contains(const std::vector<Item>& list, const Item& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

struct WatchedFolder {
  std::filesystem::path path;   // as the files name it; empty for the current folder
  std::filesystem::path above;  // the folder above it, absolute
  int wd = -1;                  // on the folder, or while it is gone on the nearest folder above it that exists
  bool gone = false;
  // On the folders its path goes through, which a rename or removal of
  // takes the path away from the folder watched.
  std::vector<int> through;
};

// The folders a path goes through, nearest first: for a relative path up to
// its first part, for an absolute one up to the root, which cannot go.
std::vector<std::filesystem::path> FoldersThrough(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> through;
  for (auto at = path.parent_path(); at.has_relative_path(); at = at.parent_path()) {
    through.push_back(at);
    if (at == at.parent_path()) break;
  }
  return through;
}

// The folder itself if it exists, else the nearest one above it that does.
std::filesystem::path NearestFolder(std::filesystem::path folder) {
  std::error_code ignored;
  while (!std::filesystem::is_directory(folder, ignored) && folder.has_relative_path()) folder = folder.parent_path();
  return folder;
}

// What one read of the queued events brought.
struct Events {
  std::vector<std::filesystem::path> named;     // files a writer finished with
  std::vector<std::filesystem::path> back;      // folders watched again
  std::vector<std::filesystem::path> gone;      // folders that went and are not back
  std::vector<std::filesystem::path> replaced;  // another folder took the path at once
  bool overflowed = false;                      // events were lost
};

}  // namespace

struct FileWatch::Native {
  mapconv::fs::File inotify;
  std::vector<WatchedFolder> folders;

  int Fd() const { return static_cast<int>(inotify.get()); }
  int Add(const std::filesystem::path& folder) const { return ::inotify_add_watch(Fd(), folder.c_str(), kEvents); }

  // Drops the watch wd once no folder uses it.
  void Release(int wd) {
    if (wd < 0) return;
    for (const auto& other : folders) {
      if (other.wd == wd || Contains(other.through, wd)) return;
    }
    ::inotify_rm_watch(Fd(), wd);
  }

  // Moves folder to watch wd, dropping its old watch when no folder uses it.
  void Use(WatchedFolder& folder, int wd) {
    const int old = std::exchange(folder.wd, wd);
    if (old != wd) Release(old);
  }

  // Watches the folders the path goes through, as they are now.
  void WatchThrough(WatchedFolder& folder) {
    std::vector<int> through;
    for (const auto& above : FoldersThrough(folder.path)) {
      if (const int wd = Add(above); wd >= 0) through.push_back(wd);
    }
    std::swap(folder.through, through);
    for (const int old : through) {
      if (!Contains(folder.through, old)) Release(old);
    }
  }

  // Watches the folder again or, while it is missing, the nearest folder
  // above it that exists, where anything that happens may have brought it
  // back. Costs a few system calls per such event and no timer.
  void Arm(WatchedFolder& folder) {
    for (;;) {
      if (const int wd = Add(Named(folder.path)); wd >= 0) {
        Use(folder, wd);
        folder.gone = false;
        WatchThrough(folder);
        return;
      }
      Check(Missing());
      std::filesystem::path above = folder.above;
      int wd = -1;
      while ((wd = Add(above)) < 0 && Missing() && above.has_relative_path()) above = above.parent_path();
      Check(wd >= 0);
      Use(folder, wd);
      folder.gone = true;
      WatchThrough(folder);
      // It, or a folder on its way below the one watched now, may have been
      // made before that watch began (mkdir -p): no event will tell of it.
      std::error_code ignored;
      if (!std::filesystem::is_directory(Named(folder.path), ignored) && NearestFolder(folder.above) == above) return;
    }
  }

  // Every event queued so far, so a burst of saves converts once.
  Events Read() {
    Events events;
    std::vector<bool> changed(folders.size(), false);  // gone, or maybe back
    alignas(inotify_event) std::array<char, 16384> buffer;
    for (ssize_t n; (n = ::read(Fd(), buffer.data(), buffer.size())) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if ((event->mask & IN_Q_OVERFLOW) != 0) events.overflowed = true;
        for (std::size_t i = 0; i < folders.size(); ++i) {
          // A folder its path goes through was renamed or removed.
          if ((event->mask & kFolderGone) != 0 && Contains(folders[i].through, event->wd)) changed[i] = true;
          if (folders[i].wd != event->wd) continue;
          if ((event->mask & kFolderGone) != 0 || folders[i].gone) changed[i] = true;
          if (!folders[i].gone && (event->mask & kFinished) != 0 && event->len > 0) {
            events.named.push_back(folders[i].path / event->name);
          }
        }
        // A folder renamed away would go on being watched under its new name.
        if ((event->mask & kFolderGone) != 0) Forget(event->wd);
      }
    }
    // Events were lost: every folder is looked up again, and each file
    // present in one counts as saved.
    if (events.overflowed) changed.assign(folders.size(), true);
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (changed[i]) Rearm(folders[i], events);
    }
    return events;
  }

  void Forget(int wd) {
    ::inotify_rm_watch(Fd(), wd);
    for (auto& folder : folders) {
      folder.wd = folder.wd == wd ? -1 : folder.wd;
      std::erase(folder.through, wd);
    }
  }

  void Rearm(WatchedFolder& folder, Events& events) {
    const bool wasGone = folder.gone;
    const int was = folder.wd;
    Arm(folder);
    if (!folder.gone) {
      events.back.push_back(folder.path);
      // Renamed or removed, and another folder took its path meanwhile.
      if (!wasGone && folder.wd != was) events.replaced.push_back(Named(folder.path));
    } else if (!wasGone) {
      events.gone.push_back(Named(folder.path));
    }
  }
};

FileWatch::FileWatch(std::vector<std::filesystem::path> files)
    : files_(std::move(files)), native_(std::make_unique<Native>()) {
  Check(gWakeFd >= 0);
  native_->inotify = mapconv::fs::File(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  Check(static_cast<bool>(native_->inotify));
  for (const auto& file : files_) {
    const std::filesystem::path folder = file.parent_path();
    const auto& folders = native_->folders;
    if (std::any_of(folders.begin(), folders.end(), [&](const auto& known) { return known.path == folder; })) {
      continue;
    }
    const int wd = native_->Add(Named(folder));
    Check(wd >= 0);
    native_->folders.push_back({folder, std::filesystem::absolute(Named(folder)).parent_path(), wd, false, {}});
    native_->WatchThrough(native_->folders.back());
  }
}

FileWatch::~FileWatch() = default;

WatchNews FileWatch::Wait() {
  WatchNews news;
  while (news.saved.empty() && news.gone.empty() && news.replaced.empty()) {
    std::array<pollfd, 2> waits{{{native_->Fd(), POLLIN, 0}, {gWakeFd, POLLIN, 0}}};
    if (::poll(waits.data(), waits.size(), -1) < 0) {
      Check(errno == EINTR);
      continue;
    }
    if (waits[1].revents != 0) return {};
    Events events = native_->Read();
    news.gone = std::move(events.gone);
    news.replaced = std::move(events.replaced);
    // A file counts under the name the conversion would open for it.
    for (const auto& file : files_) {
      const auto found = mapconv::fs::FindFile(file);
      if (found && (Contains(events.back, file.parent_path()) || Contains(events.named, *found))) {
        news.saved.push_back(file);
      }
    }
  }
  return news;
}

void WakeFileWatches() noexcept {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(gWakeFd, &one, sizeof one);
}

}  // namespace halfmap::cli
