// File services on Windows, through the wide (W) functions only, so that a
// folder name outside the system's ANSI code page still works. "Exclusive"
// means a share mode of zero: no other program can open the file meanwhile.
#include "mapconv/file_services.h"

#include <windows.h>

#include <string>

#include "mapconv/errors.h"
#include "mapconv/test_hooks.h"

namespace mapconv::fs {
namespace {

HANDLE Native(const File& file) { return reinterpret_cast<HANDLE>(file.get()); }

File Adopt(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return File();
  return File(reinterpret_cast<File::Handle>(handle));
}

File OpenNoSharing(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  return Adopt(::CreateFileW(path.c_str(), access, 0, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A device name such as CON in a map's place would never end a read.
bool OnDisk(const File& file) { return ::GetFileType(Native(file)) == FILE_TYPE_DISK; }

// The old packed date covers 1980-01-01 to 2107-12-31 in local time; a file
// dated outside it counts as absent.
bool HasDosDate(const FILETIME& lastWrite) {
  FILETIME local{};
  WORD date = 0;
  WORD time = 0;
  return ::FileTimeToLocalFileTime(&lastWrite, &local) &&
         ::FileTimeToDosDateTime(&local, &date, &time);
}

std::error_code SystemCode(DWORD error) { return {static_cast<int>(error), std::system_category()}; }

// A device such as CON in a file's place.
std::error_code NotOnDisk() { return SystemCode(ERROR_INVALID_NAME); }

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// ReadFile and WriteFile take at most a DWORD per call.
DWORD Chunk(std::size_t size) {
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  return static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
}

}  // namespace

std::error_code LastError() noexcept {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

File::~File() {
  if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::filesystem::path ExecutablePath() {
  // The buffer grows until the whole path fits, for folders beyond MAX_PATH.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throw EOpenFailure(std::filesystem::path());
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::filesystem::path> FindFile(const std::filesystem::path& path) noexcept {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  ::FindClose(search);
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  if (!HasDosDate(entry.ftLastWriteTime)) return std::nullopt;
  // The search already ignores case and matches short aliases; opening the
  // name as built reaches the same file.
  return path;
}

File OpenExclusive(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Open)) throw EOpenFailure(path);
  File file = OpenNoSharing(path, GENERIC_READ, OPEN_EXISTING);
  if (!file) throw EOpenFailure(path, LastError());
  if (!OnDisk(file)) throw EOpenFailure(path, NotOnDisk());
  return file;
}

File ClaimForReplace(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Claim)) throw ECreateFailure(path);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (NotFound(::GetLastError())) return File();
    throw ECreateFailure(path, LastError());
  }
  // Write access is asked for only to prove it would be granted; nothing is
  // written through this handle.
  const DWORD refused = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
  if ((attributes & refused) != 0) throw ECreateFailure(path, SystemCode(ERROR_ACCESS_DENIED));
  File file = OpenNoSharing(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (!file) throw ECreateFailure(path, LastError());
  if (!OnDisk(file)) throw ECreateFailure(path, NotOnDisk());
  return file;
}

File CreateExclusive(const std::filesystem::path& path, const std::filesystem::path& reported) {
  if (hooks::Fails(hooks::Op::Create)) throw ECreateFailure(reported);
  File file = OpenNoSharing(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  if (!file) throw ECreateFailure(reported, LastError());
  if (!OnDisk(file)) throw ECreateFailure(reported, NotOnDisk());
  return file;
}

std::size_t ReadUpTo(const File& file, std::int64_t offset, std::span<std::byte> buffer) {
  if (hooks::Fails(hooks::Op::Read)) throw EShortRead();
  if (offset < 0) throw EShortRead();
  std::size_t got = 0;
  while (got < buffer.size()) {
    // On a handle opened for ordinary I/O the offset in OVERLAPPED makes the
    // read positioned, and the call still completes before it returns.
    const auto at = static_cast<std::uint64_t>(offset) + got;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD done = 0;
    if (!::ReadFile(Native(file), buffer.data() + got, Chunk(buffer.size() - got), &done, &position)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      throw EShortRead(LastError());
    }
    if (done == 0) break;  // the end of the file
    got += done;
  }
  return got;
}

std::int64_t Size(const File& file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(Native(file), &size)) throw EShortRead(LastError());
  return size.QuadPart;
}

void Write(const File& file, std::span<const std::byte> bytes) {
  if (hooks::Fails(hooks::Op::Write)) throw EShortWrite();
  while (!bytes.empty()) {
    DWORD done = 0;
    if (!::WriteFile(Native(file), bytes.data(), Chunk(bytes.size()), &done, nullptr)) {
      throw EShortWrite(LastError());
    }
    if (done == 0) throw EShortWrite(SystemCode(ERROR_DISK_FULL));
    bytes = bytes.subspan(done);
  }
}

void Flush(const File& file) {
  if (hooks::Fails(hooks::Op::Flush)) throw EShortWrite();
  if (!::FlushFileBuffers(Native(file))) throw EShortWrite(LastError());
}

void Replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (hooks::Fails(hooks::Op::Replace)) throw ECreateFailure(to);
  if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw ECreateFailure(to, LastError());
  }
}

void Remove(const std::filesystem::path& path) noexcept { ::DeleteFileW(path.c_str()); }

}  // namespace mapconv::fs
