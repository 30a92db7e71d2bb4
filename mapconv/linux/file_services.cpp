// File services on Linux (steps: docs/file-safety.md). Exclusive opening is an advisory flock, which is
// what other careful programs on the same machine honour.
#include "mapconv/file_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "mapconv/errors.h"
#include "mapconv/force_break.h"
#include "mapconv/linux/link_rule.h"
#include "mapconv/linux/posix_calls.h"
#include "mapconv/room_needed.h"
#include "mapconv/test_hooks.h"

namespace mapconv::fs {
namespace {

// Only regular files count, whatever their date: a directory is absent, and
// a device or pipe bearing a map's name would block or never end.
bool Acceptable(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The smallest name in the folder that matches ignoring ASCII case, so the
// choice does not depend on directory order.
std::optional<std::filesystem::path> FindIgnoringCase(const std::filesystem::path& path) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(
      ::opendir(path.parent_path().empty() ? "." : path.parent_path().c_str()), ::closedir);
  if (!dir) return std::nullopt;
  const std::string wanted = path.filename().string();
  std::optional<std::string> best;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (SameIgnoringAsciiCase(name, wanted) && (!best || name < *best)) best = std::string(name);
  }
  if (!best) return std::nullopt;
  return path.parent_path() / *best;
}

struct stat StatOf(const File& file) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) throw EShortRead(LastError());
  return st;
}

std::error_code NotRegular() { return make_error_code(FileError::NotRegularFile); }

// Another program's lock is waited out for as long as a save takes, about
// 2 s, looking again ever less often.
bool LockWaiting(int fd, int how) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto pause = std::chrono::milliseconds(5);
  while (!Lock(fd, how)) {
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(200));
  }
  return true;
}

// Why LockWaiting failed: a lock still held means the file is in use.
std::error_code LockError() { return errno == EWOULDBLOCK ? make_error_code(FileError::InUse) : LastError(); }

// The name path leads to through the links the kernel's rule would follow;
// raises Failure(path, why) for a link refused or a folder not reached.
template <class Failure>
LinkFreeName Followed(const std::filesystem::path& path) {
  std::error_code error;
  LinkFreeName at = FollowTrustedLinks(path, error);
  if (error) throw Failure(path, error);
  return at;
}

}  // namespace

std::error_code LastError() noexcept { return {errno, std::system_category()}; }

File::~File() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

std::filesystem::path ExecutablePath() { return std::filesystem::read_symlink("/proc/self/exe"); }

FileId IdOf(const File& file) {
  const struct stat st = StatOf(file);
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool IsFolder(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<FileId> IdOf(const std::filesystem::path& path) noexcept {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

namespace {

Stamp StampFrom(const struct stat& st) {
  auto nanoseconds = [](const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
  return {st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

}  // namespace

Stamp StampOf(const File& file) { return StampFrom(StatOf(file)); }

std::optional<Stamp> StampOf(const std::filesystem::path& path) noexcept {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampFrom(st);
}

std::optional<std::filesystem::path> FindFile(const std::filesystem::path& path) noexcept {
  try {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
      if (Acceptable(path)) return path;
      return std::nullopt;
    }
    auto match = FindIgnoringCase(path);
    if (match && Acceptable(*match)) return match;
  } catch (...) {
    // A name that cannot even be built is as absent as a missing file.
  }
  return std::nullopt;
}

bool IsDevice(const std::filesystem::path& path) noexcept {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
}

File OpenForReading(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Open)) throw EOpenFailure(path);
  File file = OpenAt(Followed<EOpenFailure>(path), O_RDONLY);
  struct stat st {};
  if (!file || ::fstat(Fd(file), &st) != 0) throw EOpenFailure(path, LastError());
  if (!S_ISREG(st.st_mode)) throw EOpenFailure(path, NotRegular());
  // Shared, so one file under several names converts under any number of
  // jobs, while a writer that takes its lock waits for the readers.
  if (!LockWaiting(Fd(file), LOCK_SH)) throw EOpenFailure(path, LockError());
  return file;
}

std::filesystem::path ResolveOutput(const std::filesystem::path& path) { return Followed<ECreateFailure>(path).path; }

File ClaimForReplace(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Claim)) throw ECreateFailure(path);
  // ResolveOutput has followed the links the rule allows; one that has
  // appeared since is not followed.
  File file = OpenNonBlocking(path, O_RDONLY | O_NOFOLLOW);
  if (!file) {
    if (errno == ENOENT) return file;
    throw ECreateFailure(path, LastError());
  }
  // Judged by the mode bits, not by access(): as root every file is writable.
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) throw ECreateFailure(path, LastError());
  if (!S_ISREG(st.st_mode)) throw ECreateFailure(path, NotRegular());
  if ((st.st_mode & 0222) == 0) throw ECreateFailure(path, std::make_error_code(std::errc::permission_denied));
  if (!LockWaiting(Fd(file), LOCK_EX)) throw ECreateFailure(path, LockError());
  return file;
}

void RemoveStale(const std::filesystem::path& path, const FileId& input) noexcept {
  // Only a file of this user's: in a shared folder the name may be anyone's.
  const File file = OpenNonBlocking(path, O_PATH | O_NOFOLLOW);
  struct stat st {};
  if (!file || ::fstat(Fd(file), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return;
  if (FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)} == input) return;
  UnlinkIfStillNamed(path, st);
}

void CheckSpace(const File& file, std::int64_t bytes) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(bytes) > limit.rlim_cur) {
    throw EShortWrite(std::make_error_code(std::errc::file_too_large));
  }
  struct statvfs fs {};
  // A file system that tells no sizes (some network ones) is not judged.
  if (::fstatvfs(Fd(file), &fs) != 0 || fs.f_blocks == 0) return;
  // What other users may write, even for root: the blocks kept back are
  // the system's, for when the disk is full.
  const std::int64_t available = BytesOf(fs.f_bavail, fs.f_frsize);
  const std::int64_t needed = RoomNeeded(bytes, BytesOf(fs.f_blocks, fs.f_frsize));
  if (needed > available) throw ENoSpace(needed, available);
}

std::size_t ReadUpTo(const File& file, std::int64_t offset, std::span<std::byte> buffer) {
  if (hooks::Fails(hooks::Op::Read)) throw EShortRead();
  std::size_t got = 0;
  while (got < buffer.size()) {
    const ssize_t n = Retry(
        [&] { return ::pread(Fd(file), buffer.data() + got, buffer.size() - got, offset + static_cast<off_t>(got)); });
    if (n < 0) throw EShortRead(LastError());
    if (n == 0) break;  // the end of the file
    got += static_cast<std::size_t>(n);
  }
  return got;
}

std::int64_t Size(const File& file) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) throw EShortRead(LastError());
  return st.st_size;
}

void Write(const File& file, std::span<const std::byte> bytes) {
  if (hooks::Fails(hooks::Op::Write)) throw EShortWrite();
  while (!bytes.empty()) {
    const ssize_t n = Retry([&] { return ::write(Fd(file), bytes.data(), bytes.size()); });
    if (n < 0) throw EShortWrite(LastError());
    if (n == 0) throw EShortWrite(std::make_error_code(std::errc::no_space_on_device));
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  // Start putting what is written on disk now, while the conversion goes on,
  // so the flush before the rename waits only for the last pieces. Whatever
  // fails here, that flush reports.
  ::sync_file_range(Fd(file), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void Flush(const File& file) {
  if (hooks::Fails(hooks::Op::Flush)) throw EShortWrite();
  if (Retry([&] { return ::fsync(Fd(file)); }) != 0) throw EShortWrite(LastError());
}

}  // namespace mapconv::fs
