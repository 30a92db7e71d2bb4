// Test helpers for files: a fresh folder that stands in for the executable's
// own for as long as it lives, and whole-file reads and writes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::byte>;

class TempFolder {
 public:
  // Makes a new folder under the system's temporary folder, its name ending
  // in tail, and makes it the app folder of mapconv's names.
  explicit TempFolder(const std::string& tail = "");
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();  // removes the folder and restores the real app folder

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  std::vector<std::string> Names() const;  // sorted file names inside

 private:
  std::filesystem::path path_;
};

Bytes ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const Bytes& bytes);

// Open descriptors of this process, to prove nothing is left open.
int OpenFileCount();

}  // namespace testing_support
