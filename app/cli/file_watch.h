// Waits, blocked on the system's file events and never on a timer, until
// the writers of some given files have finished with them: on Linux a close
// after writing or a rename into place, on Windows a change after which no
// other program holds the file open. One implementation per platform.
#pragma once

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace halfmap::cli {

// What one wait found.
struct WatchNews {
  std::vector<std::filesystem::path> saved;  // files finished with, each once, in the order given
  std::vector<std::filesystem::path> gone;   // folders removed or renamed away since the last wait
  // Folders renamed or removed, themselves or a folder above, whose path
  // another folder took before the watch looked: that one is watched now.
  std::vector<std::filesystem::path> replaced;
};

class FileWatch {
 public:
  // Watches the folders that hold files; raises std::system_error when the
  // system refuses.
  explicit FileWatch(std::vector<std::filesystem::path> files);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // Blocks until at least one of the files is finished with or one of the
  // folders is gone or replaced, a folder above it renamed or removed
  // counting as it. A folder that is gone is watched for again, and when a
  // folder of its name comes back, every file in it counts as saved.
  // Returns nothing once WakeFileWatches has been called, and may return
  // nothing otherwise. Raises std::system_error.
  WatchNews Wait();

 private:
  struct Native;
  std::vector<std::filesystem::path> files_;
  std::unique_ptr<Native> native_;
};

// Makes every Wait, now and later, return at once. Safe in a signal handler
// and in a console control handler.
void WakeFileWatches() noexcept;

}  // namespace halfmap::cli
