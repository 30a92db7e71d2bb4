// Typed failures of the platform's file and memory services, and of the
// progress bar. HalveMap turns the expected ones into EForceBreak (the
// shortage of space, ENoSpace in force_break.h, is one already); the rest
// reach the window's generic error report.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace mapconv {

// Failures the tool finds itself, where the system reports none; they
// travel in std::error_code like the system's own (category "halfmap").
enum class FileError {
  NotRegularFile = 1,  // a folder, pipe or device where a file belongs
  InputChanged,        // written to while it was being converted
  ForeignLink,         // a link another user made in a shared folder
  InUse,               // locked by another program for longer than a save takes
  Device,              // a device name (NUL, CON, COM1.TXT) where a file belongs
};
const std::error_category& FileErrorCategory() noexcept;
std::error_code make_error_code(FileError error) noexcept;

// A failure with the system's own error behind it (errno or
// GetLastError), empty where the system gave none, for front ends that say
// why. The one carrier of error codes for the file services and the
// conversion's EForceBreak alike.
class ECodedFailure : public std::runtime_error {
 public:
  ECodedFailure(const std::string& message, std::error_code code) : std::runtime_error(message), code_(code) {}
  std::error_code code() const noexcept { return code_; }

 private:
  std::error_code code_;
};

// A file service's failure: the window's message and the system's error.
class EFileFailure : public ECodedFailure {
 public:
  using ECodedFailure::ECodedFailure;
};

class EOpenFailure : public EFileFailure {
 public:
  explicit EOpenFailure(const std::filesystem::path& path, std::error_code code = {});
};

// Message: "ファイル %s を作成できません" with the path as built.
class ECreateFailure : public EFileFailure {
 public:
  explicit ECreateFailure(const std::filesystem::path& path, std::error_code code = {});
  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

// The output's folder refused a new file. The window's message still names
// the output; the command line names the folder, the real cause.
class EFolderRefused : public ECreateFailure {
 public:
  EFolderRefused(const std::filesystem::path& output, const std::filesystem::path& folder, std::error_code code)
      : ECreateFailure(output, code), folder_(folder) {}
  const std::filesystem::path& folder() const noexcept { return folder_; }

 private:
  std::filesystem::path folder_;
};

class EShortRead : public EFileFailure {
 public:
  explicit EShortRead(std::error_code code = {});
};

class EShortWrite : public EFileFailure {
 public:
  explicit EShortWrite(std::error_code code = {});
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

template <>
struct std::is_error_code_enum<mapconv::FileError> : std::true_type {};
