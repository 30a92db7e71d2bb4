// File services on POSIX. Exclusive opening is an advisory flock, which is
// what other careful programs on the same machine honour.
#include "mapconv/file_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <system_error>

#include "mapconv/errors.h"
#include "mapconv/test_hooks.h"

namespace mapconv::fs {
namespace {

int Fd(const File& file) { return static_cast<int>(file.get()); }

// Local-time year of a last-write time, or 0 when it cannot be expressed.
int LocalYear(std::time_t when) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return 0;
  return local.tm_year + 1900;
}

// Only regular files count: a directory is absent, and a device or pipe
// bearing a map's name would block or never end.
bool Acceptable(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int year = LocalYear(st.st_mtime);
  return year >= 1980 && year <= 2107;
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

// Retries a call interrupted by a signal.
template <typename Call>
auto Retry(Call call) {
  for (;;) {
    auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

bool LockExclusive(int fd) { return Retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0; }

}  // namespace

std::error_code LastError() noexcept { return {errno, std::system_category()}; }

File::~File() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

std::filesystem::path ExecutablePath() {
  return std::filesystem::read_symlink("/proc/self/exe");
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

File OpenExclusive(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Open)) throw EOpenFailure(path);
  // Non-blocking, so a pipe put in a map's place cannot stall the open.
  File file(Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
  struct stat st {};
  if (!file || ::fstat(Fd(file), &st) != 0) throw EOpenFailure(path, LastError());
  if (S_ISDIR(st.st_mode)) throw EOpenFailure(path, std::make_error_code(std::errc::is_a_directory));
  if (!S_ISREG(st.st_mode)) throw EOpenFailure(path, std::make_error_code(std::errc::invalid_argument));
  if (!LockExclusive(Fd(file))) throw EOpenFailure(path, LastError());
  return file;
}

File ClaimForReplace(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Claim)) throw ECreateFailure(path);
  File file(Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
  if (!file) {
    if (errno == ENOENT) return file;
    throw ECreateFailure(path, LastError());
  }
  // Judged by the mode bits, not by access(): as root every file is writable.
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) throw ECreateFailure(path, LastError());
  if (S_ISDIR(st.st_mode)) throw ECreateFailure(path, std::make_error_code(std::errc::is_a_directory));
  if (!S_ISREG(st.st_mode)) throw ECreateFailure(path, std::make_error_code(std::errc::invalid_argument));
  if ((st.st_mode & 0222) == 0) throw ECreateFailure(path, std::make_error_code(std::errc::permission_denied));
  if (!LockExclusive(Fd(file))) throw ECreateFailure(path, LastError());
  return file;
}

File CreateExclusive(const std::filesystem::path& path, const std::filesystem::path& reported) {
  if (hooks::Fails(hooks::Op::Create)) throw ECreateFailure(reported);
  File file(Retry([&] {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
  }));
  if (!file || !LockExclusive(Fd(file))) throw ECreateFailure(reported, LastError());
  return file;
}

std::size_t ReadUpTo(const File& file, std::int64_t offset, std::span<std::byte> buffer) {
  if (hooks::Fails(hooks::Op::Read)) throw EShortRead();
  std::size_t got = 0;
  while (got < buffer.size()) {
    const ssize_t n = Retry([&] {
      return ::pread(Fd(file), buffer.data() + got, buffer.size() - got, offset + static_cast<off_t>(got));
    });
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

void Replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (hooks::Fails(hooks::Op::Replace)) throw ECreateFailure(to);
  if (::rename(from.c_str(), to.c_str()) != 0) throw ECreateFailure(to, LastError());
  // Make the new name itself durable; a folder that cannot be synced still
  // holds a complete file under one name or the other.
  const std::filesystem::path parent = to.has_parent_path() ? to.parent_path() : ".";
  File folder(Retry([&] { return ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (folder) ::fsync(Fd(folder));
}

void Remove(const std::filesystem::path& path) noexcept { ::unlink(path.c_str()); }

}  // namespace mapconv::fs
