// Typed failures of the platform's file and memory services, and of the
// progress bar. HalveMap turns the expected ones into EForceBreak; the rest
// reach the window's generic error report.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace mapconv {

class EOpenFailure : public std::runtime_error {
 public:
  explicit EOpenFailure(const std::filesystem::path& path);
};

// Message: "ファイル %s を作成できません" with the path as built.
class ECreateFailure : public std::runtime_error {
 public:
  explicit ECreateFailure(const std::filesystem::path& path);
};

class EShortRead : public std::runtime_error {
 public:
  EShortRead();
};

class EShortWrite : public std::runtime_error {
 public:
  EShortWrite();
};

class EOutOfMemory : public std::runtime_error {
 public:
  EOutOfMemory();
};

// Raised by a progress bar asked for a maximum below its minimum:
// "プロパティ TProgressBar の範囲を超えています".
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  static EInvalidOperation PropertyOutOfRange(const std::string& className);
};

// Paths in messages are UTF-8 on every platform.
std::string PathText(const std::filesystem::path& path);

}  // namespace mapconv
