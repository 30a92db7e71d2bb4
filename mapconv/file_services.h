// The few file services a conversion needs, with one POSIX and one Win32
// implementation chosen by the build. Every failure is a typed exception
// from errors.h; a File closes its handle when it goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

namespace mapconv::fs {

// Owns one open file: a descriptor on POSIX, a HANDLE on Windows.
class File {
 public:
  using Handle = std::intptr_t;
  static constexpr Handle kNone = -1;

  File() = default;
  explicit File(Handle handle) noexcept : handle_(handle) {}
  File(File&& other) noexcept : handle_(other.release()) {}
  File& operator=(File&& other) noexcept {
    File old(release());  // closed at the end of this call
    handle_ = other.release();
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();  // closes; defined by each platform

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != kNone; }
  Handle release() noexcept {
    const Handle handle = handle_;
    handle_ = kNone;
    return handle;
  }

 private:
  Handle handle_ = kNone;
};

// The system's error of the call that just failed (errno, GetLastError).
std::error_code LastError() noexcept;

// Full path of the running executable.
std::filesystem::path ExecutablePath();

// The entry that the presence test accepts for this path, if any: the path
// itself, or where names are case-sensitive a same-folder name matching it
// ignoring ASCII case. Directories and out-of-range dates count as absent.
std::optional<std::filesystem::path> FindFile(
    const std::filesystem::path& path) noexcept;

// Opens an existing file for reading with no other opener allowed meanwhile.
// Raises EOpenFailure.
File OpenExclusive(const std::filesystem::path& path);

// Makes sure an existing file at this path may be replaced: nobody else holds
// it and it is not read-only. Raises ECreateFailure(path). While the returned
// File lives, others are kept out where the platform allows it; release it
// before Replace.
File ClaimForReplace(const std::filesystem::path& path);

// Creates or truncates a file for exclusive writing. Raises
// ECreateFailure(reported) so the user sees the name they know.
File CreateExclusive(const std::filesystem::path& path,
                     const std::filesystem::path& reported);

// Reads up to buffer.size() bytes at offset and returns how many it got:
// fewer only where the file ends, so reading ahead past the end is no
// failure. A read the system refuses raises EShortRead.
std::size_t ReadUpTo(const File& file, std::int64_t offset, std::span<std::byte> buffer);

// The file's length in bytes; raises EShortRead when it cannot be had.
std::int64_t Size(const File& file);

// Writes all bytes at the current position; anything less raises EShortWrite.
void Write(const File& file, std::span<const std::byte> bytes);

// Puts what was written on disk; raises EShortWrite when it cannot.
void Flush(const File& file);

// Moves from over to in one step. Raises ECreateFailure(to).
void Replace(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a file; the result does not matter to any caller.
void Remove(const std::filesystem::path& path) noexcept;

}  // namespace mapconv::fs
