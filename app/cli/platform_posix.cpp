// halfmap-cli's platform services on Linux: the locale's language, errno's
// words, and the watch over inotify.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "app/cli/file_watch.h"
#include "app/cli/messages.h"
#include "mapconv/file_services.h"

namespace halfmap::cli {
namespace {

// The wake-up every watch also waits on; made before main, so before any
// signal can come, and never closed, so a handler can always write to it.
const int gWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

void Check(bool ok) {
  if (!ok) throw std::system_error(errno, std::system_category());
}

}  // namespace

Language UserLanguage() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

std::string PlatformReason(std::error_code code) { return code.message(); }

struct FileWatch::Native {
  mapconv::fs::File inotify;
  std::map<int, std::filesystem::path> folders;  // by watch descriptor
};

FileWatch::FileWatch(std::vector<std::filesystem::path> files)
    : files_(std::move(files)), native_(std::make_unique<Native>()) {
  Check(gWakeFd >= 0);
  native_->inotify = mapconv::fs::File(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  Check(static_cast<bool>(native_->inotify));
  for (const auto& file : files_) {
    const std::filesystem::path folder = file.parent_path();
    const std::filesystem::path watched = folder.empty() ? "." : folder;
    // Only finished writes: a close after writing, or a rename into place.
    const int wd = ::inotify_add_watch(static_cast<int>(native_->inotify.get()), watched.c_str(),
                                       IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR);
    Check(wd >= 0);
    native_->folders.emplace(wd, folder);
  }
}

FileWatch::~FileWatch() = default;

std::vector<std::filesystem::path> FileWatch::Wait() {
  const int fd = static_cast<int>(native_->inotify.get());
  std::vector<std::filesystem::path> done;
  while (done.empty()) {
    std::array<pollfd, 2> waits{{{fd, POLLIN, 0}, {gWakeFd, POLLIN, 0}}};
    if (::poll(waits.data(), waits.size(), -1) < 0) {
      Check(errno == EINTR);
      continue;
    }
    if (waits[1].revents != 0) return {};
    // Every event queued so far, so a burst of saves converts once.
    std::vector<std::filesystem::path> named;
    bool overflowed = false;
    alignas(inotify_event) std::array<char, 16384> buffer;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        const auto folder = native_->folders.find(event->wd);
        if (event->len > 0 && folder != native_->folders.end()) named.push_back(folder->second / event->name);
        // Events were lost: any file may have been saved.
        if ((event->mask & IN_Q_OVERFLOW) != 0) overflowed = true;
      }
    }
    // A file counts under the name the conversion would open for it.
    for (const auto& file : files_) {
      const auto found = mapconv::fs::FindFile(file);
      if (found && (overflowed || std::find(named.begin(), named.end(), *found) != named.end())) {
        done.push_back(file);
      }
    }
  }
  return done;
}

namespace {

bool OpenForWriting(const std::filesystem::path& file) {
  const mapconv::fs::File reader(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  const int fd = static_cast<int>(reader.get());
  // A read lease is refused exactly while someone holds the file for writing.
  if (!reader || ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) return false;
  return errno == EAGAIN;
}

}  // namespace

bool HeldForWriting(const std::filesystem::path& file) {
  // The system tells of a writer's close a moment before it stops counting
  // that writer, so a hold that ends within a short while was that close.
  for (int tries = 0; tries < 20; ++tries) {
    if (!OpenForWriting(file)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void WakeFileWatches() noexcept {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(gWakeFd, &one, sizeof one);
}

}  // namespace halfmap::cli
