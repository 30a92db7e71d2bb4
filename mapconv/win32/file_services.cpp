// File services on Windows (steps: docs/file-safety.md), through the wide (W) functions only, so that a
// folder name outside the system's ANSI code page still works, and on the
// long form of every path (LongPath, long_path.cpp), so that deep folders do too. The
// scratch file and the replacement live in scratch_file.cpp.
#include "mapconv/file_services.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "mapconv/errors.h"
#include "mapconv/force_break.h"
#include "mapconv/test_hooks.h"
#include "mapconv/win32/handles.h"

namespace mapconv::fs {
namespace {

// A device name such as CON in a map's place would never end a read.
bool OnDisk(const File& file) { return ::GetFileType(Native(file)) == FILE_TYPE_DISK; }

std::error_code NotRegular() { return make_error_code(FileError::NotRegularFile); }
std::error_code ADevice() { return make_error_code(FileError::Device); }

bool NotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

FileId IdFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// ReadFile and WriteFile take at most a DWORD per call.
DWORD Chunk(std::size_t size) {
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  return static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
}

// The folder holding an open file, in the system's long form with its
// trailing separator; empty when the system cannot name it.
std::wstring FolderHolding(const File& file) {
  const std::wstring name = FinalName(file);
  const std::size_t separator = name.find_last_of(L'\\');
  return separator == std::wstring::npos ? std::wstring() : name.substr(0, separator + 1);
}

// FILE_ID_INFO and its class, which the headers declare only for builds
// that require Windows 8; this one runs on Windows 7 too.
struct FullFileId {
  ULONGLONG volume;
  BYTE id[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// The 128-bit id where the system has it: the only id unique on every file
// system (ReFS). Windows 7, and some older Wine, know only the 64-bit index.
std::optional<FileId> IdFromHandle(HANDLE handle) {
  FullFileId full{};
  if (::GetFileInformationByHandleEx(handle, kFileIdInfo, &full, sizeof full)) {
    FileId id{full.volume, 0, 0};
    std::memcpy(&id.index, full.id, sizeof id.index);
    std::memcpy(&id.high, full.id + sizeof id.index, sizeof id.high);
    return id;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return IdFrom(info);
}

}  // namespace

bool IsFolder(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::error_code LastError() noexcept { return {static_cast<int>(::GetLastError()), std::system_category()}; }

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

FileId IdOf(const File& file) {
  const auto id = IdFromHandle(Native(file));
  if (!id) throw EShortRead(LastError());
  return *id;
}

namespace {

// Attributes only, shared with everyone: asking must disturb nobody, and
// nobody's hold makes it wait. Backup semantics let a folder be asked too.
File OpenAttributes(const std::filesystem::path& path) {
  return Adopt(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

std::optional<FileId> IdOf(const std::filesystem::path& path) noexcept {
  try {
    const File file = OpenAttributes(path);
    return file ? IdFromHandle(Native(file)) : std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

Stamp StampOf(const File& file) {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(Native(file), FileBasicInfo, &basic, sizeof basic)) {
    throw EShortRead(LastError());
  }
  return {Size(file), basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
}

std::optional<Stamp> StampOf(const std::filesystem::path& path) noexcept {
  try {
    const File file = OpenAttributes(path);
    return file ? std::optional(StampOf(file)) : std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::filesystem::path> FindFile(const std::filesystem::path& path) noexcept {
  try {
    // The search would take these as wildcards; no file name holds them.
    if (path.filename().native().find_first_of(L"*?") != std::wstring::npos) return std::nullopt;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(LongPath(path).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    ::FindClose(search);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    // The search already ignores case and matches short aliases; opening the
    // name as built reaches the same file.
    return path;
  } catch (...) {
    return std::nullopt;
  }
}

bool IsDevice(const std::filesystem::path& path) noexcept {
  try {
    // The system's own rule: a device name such as NUL or COM1.TXT comes
    // back from the full-path conversion as \\.\NUL.
    return LongPath(path).starts_with(L"\\\\.\\");
  } catch (...) {
    return false;
  }
}

File OpenForReading(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Open)) throw EOpenFailure(path);
  if (IsDevice(path)) throw EOpenFailure(path, ADevice());
  File file = Adopt(::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const std::error_code error = LastError();
    throw EOpenFailure(path, IsFolder(path) ? NotRegular() : error);
  }
  if (!OnDisk(file)) throw EOpenFailure(path, NotRegular());
  return file;
}

std::filesystem::path ResolveOutput(const std::filesystem::path& path) {
  // Replacing a link in place of a file would take the privilege to make
  // one again; such outputs are replaced as the files they appear to be.
  return path;
}

File ClaimForReplace(const std::filesystem::path& path) {
  if (hooks::Fails(hooks::Op::Claim)) throw ECreateFailure(path);
  if (IsDevice(path)) throw ECreateFailure(path, ADevice());
  const std::wstring name = LongPath(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (NotFound(::GetLastError())) return File();
    throw ECreateFailure(path, LastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw ECreateFailure(path, NotRegular());
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) throw ECreateFailure(path, SystemCode(ERROR_ACCESS_DENIED));
  // Write access is asked for only to prove it would be granted; nothing is
  // written through this handle. No sharing: nobody else may hold it. A
  // link is claimed as itself: its entry is replaced, never its target.
  File file;
  const DWORD error = RetryWhileHeld([&] {
    file = Adopt(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
  });
  if (NotFound(error)) return File();  // removed meanwhile: a new output after all
  if (error != ERROR_SUCCESS) throw ECreateFailure(path, SystemCode(error));
  if (!OnDisk(file)) throw ECreateFailure(path, NotRegular());
  return file;
}

void RemoveStale(const std::filesystem::path& path, const FileId& input) noexcept {
  try {
    // Judged and removed through one handle, so it cannot be swapped in
    // between; never a link's target.
    const File file = OpenPlainEntry(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file && IdOf(file) != input) SetDeleteOnClose(file, true);
  } catch (...) {
    // A path that cannot be built, or a file that cannot be asked: nothing
    // to remove then.
  }
}

void CheckSpace(const File& file, std::int64_t bytes) {
  // Where the system cannot name the folder, a full disk still fails the
  // writes; only the early warning is lost.
  const std::wstring folder = FolderHolding(file);
  ULARGE_INTEGER available{};
  if (folder.empty() || !::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return;
  if (bytes > 0 && available.QuadPart < static_cast<std::uint64_t>(bytes)) {
    throw ENoSpace(bytes, static_cast<std::int64_t>(available.QuadPart));
  }
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

}  // namespace mapconv::fs
