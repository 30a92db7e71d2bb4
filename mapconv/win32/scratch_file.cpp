// The conversion's own file beside its output on Windows, and how it takes
// the output's place (steps: docs/file-safety.md). While it is written, the
// system is told to remove it when its handle closes, so that not even a
// killed process leaves it behind; that is cancelled just before it is
// moved into place. It is held without sharing until it has the output's
// name: renamed through its own handle, so that no other run's sweep can
// take it once it is finished.
#include <windows.h>

#include <aclapi.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mapconv/errors.h"
#include "mapconv/file_services.h"
#include "mapconv/scratch_names.h"
#include "mapconv/test_hooks.h"
#include "mapconv/win32/handles.h"

namespace mapconv::fs {
namespace {

// A name that is not text (a lone surrogate) is nobody's scratch file, and
// must not stop the run.
bool IsScratchOf(const std::filesystem::path& output, const wchar_t* name) noexcept {
  try {
    return IsScratchNameOf(output, name);
  } catch (...) {
    return false;
  }
}

struct SearchCloser {
  void operator()(HANDLE search) const noexcept { ::FindClose(search); }
};

// Removes the scratch files earlier runs left beside this output. A running
// conversion holds its own without sharing until it is in place, so opening
// that one alone fails and it stays; a link of such a name stays too, and
// so does its target.
void RemoveLeftovers(const std::filesystem::path& output) {
  const std::filesystem::path folder = output.parent_path();
  WIN32_FIND_DATAW entry{};
  // Long names only (FindExInfoBasic), and each checked in full, as a
  // pattern would also match short aliases.
  const HANDLE found = ::FindFirstFileExW(LongPath(folder / L".*.halfmap-*.tmp").c_str(), FindExInfoBasic, &entry,
                                          FindExSearchNameMatch, nullptr, 0);
  if (found == INVALID_HANDLE_VALUE) return;
  const std::unique_ptr<void, SearchCloser> search(found);
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsScratchOf(output, entry.cFileName)) continue;
    const File leftover = OpenPlainEntry(folder / entry.cFileName, 0);
    if (leftover) SetDeleteOnClose(leftover, true);
  } while (::FindNextFileW(search.get(), &entry));
}

bool DeletePending(const File& file) {
  FILE_STANDARD_INFO standard{};
  return file && ::GetFileInformationByHandleEx(Native(file), FileStandardInfo, &standard, sizeof standard) &&
         standard.DeletePending;
}

// Deletes a closed file by name, waiting out another program's brief hold.
// One that shares deletion with us goes as soon as its holder closes it.
void RemoveHeld(const std::filesystem::path& path) noexcept {
  try {
    const std::wstring name = LongPath(path);
    RetryWhileHeld([&] { return ::DeleteFileW(name.c_str()) ? ERROR_SUCCESS : ::GetLastError(); });
  } catch (...) {
    // Only a path that cannot be built gets here.
  }
}

// A file's access list, owned with its descriptor; none when it cannot be had.
struct AccessList {
  PACL list = nullptr;
  std::unique_ptr<void, decltype(&::LocalFree)> descriptor{nullptr, ::LocalFree};

  explicit AccessList(const File& file) {
    PSECURITY_DESCRIPTOR got = nullptr;
    if (::GetSecurityInfo(Native(file), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                          &got) != ERROR_SUCCESS) {
      list = nullptr;
      return;
    }
    descriptor.reset(got);
  }
  bool operator==(const AccessList& other) const {
    return list && other.list && list->AclSize == other.list->AclSize &&
           std::memcmp(list, other.list, list->AclSize) == 0;
  }
};

// Wine keeps access as Unix mode bits, and a list given back turns into
// wider ones than the file had (0600 became 0775).
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The replaced file's access list, which a rename would not carry over: its
// own entries, and whether it takes the folder's; only one that differs
// from the new file's. Where that cannot be done the new file keeps the
// folder's, as a new output would.
void TakeOverAccessList(const File& old, const File& replacement) {
  if (UnderWine()) return;
  const AccessList from(old);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!from.list || from == AccessList(replacement) ||
      !::GetSecurityDescriptorControl(from.descriptor.get(), &control, &revision)) {
    return;
  }
  const SECURITY_INFORMATION inheritance =
      (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
  ::SetSecurityInfo(Native(replacement), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                    from.list, nullptr);
}

// The replaced file's attributes and creation time, which a rename would
// not carry over either, are given to the new file beforehand.
void TakeOverLooks(const File& old, const File& replacement) {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(Native(old), FileBasicInfo, &basic, sizeof basic)) return;
  constexpr DWORD kKept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO looks{};  // zero times and attributes are left as they are
  looks.CreationTime = basic.CreationTime;
  looks.FileAttributes = basic.FileAttributes & kKept;
  ::SetFileInformationByHandle(Native(replacement), FileBasicInfo, &looks, sizeof looks);
  TakeOverAccessList(old, replacement);
}

// The name an existing output has in its folder, which may differ in case
// from the one asked for; it keeps that name.
std::wstring NameInFolder(const std::filesystem::path& output) {
  WIN32_FIND_DATAW entry{};
  const HANDLE found =
      ::FindFirstFileExW(LongPath(output).c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (found == INVALID_HANDLE_VALUE) return output.filename().native();
  ::FindClose(found);
  return entry.cFileName;
}

// Gives the open file another name, replacing what has that name (a link's
// entry, never its target). The name is a full path: a bare one would be
// taken against the current folder. Returns the system's error.
DWORD RenameTo(const File& file, const std::wstring& path) {
  const std::size_t bytes = path.size() * sizeof(wchar_t);
  std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(rename->FileName, path.data(), bytes);
  return ::SetFileInformationByHandle(Native(file), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))
             ? ERROR_SUCCESS
             : ::GetLastError();
}

// Why the scratch file could not be created: a name too long for the folder
// is the scratch name's own problem, a refusal is the folder's.
[[noreturn]] void CannotCreate(DWORD error, const std::filesystem::path& scratch, const std::filesystem::path& output) {
  const std::error_code code = SystemCode(error);
  if (error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME) throw ECreateFailure(scratch, code);
  if (error != ERROR_ACCESS_DENIED) throw ECreateFailure(output, code);
  const std::filesystem::path folder = output.parent_path();
  throw EFolderRefused(output, folder.empty() ? std::filesystem::path(L".") : folder, code);
}

// RenameTo the output, under name in its folder. A rename onto a file that
// someone has open is refused as access denied, not as a sharing violation;
// it counts as held, to be waited out, where the output is a file that may
// be written.
DWORD RenameOnto(const File& file, const std::wstring& name, const std::filesystem::path& output) {
  const DWORD error = RenameTo(file, LongPath(output.parent_path() / name));
  if (error != ERROR_ACCESS_DENIED) return error;
  const DWORD attributes = ::GetFileAttributesW(LongPath(output).c_str());
  const bool writable =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  return writable ? ERROR_SHARING_VIOLATION : error;
}

}  // namespace

ScratchFile::ScratchFile(const std::filesystem::path& output) : output_(output) {
  if (hooks::Fails(hooks::Op::Create)) throw ECreateFailure(output);
  RemoveLeftovers(output);
  for (int draw = 0;; ++draw) {
    path_ = NewScratchName(output);
    // No sharing: another run cannot open, rename or delete it.
    // Changing its access list to the old output's needs WRITE_DAC.
    file_ = Adopt(::CreateFileW(LongPath(path_).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS && draw < 8) continue;  // someone else's name: draw again
    CannotCreate(error, path_, output_);
  }
  // Where the file system cannot do this, the destructor deletes by name.
  SetDeleteOnClose(file_, true);
}

ScratchFile::~ScratchFile() {
  if (committed_) return;
  // Marked again through the handle where a failed commit had cleared it.
  const bool removedOnClose = DeletePending(file_) || SetDeleteOnClose(file_, true);
  file_ = File();
  if (!removedOnClose) RemoveHeld(path_);
}

void ScratchFile::Commit(File claim) {
  Flush(file_);
  if (hooks::Fails(hooks::Op::Replace)) throw ECreateFailure(output_);
  if (!SetDeleteOnClose(file_, false)) {
    const std::error_code error = LastError();
    if (DeletePending(file_)) throw ECreateFailure(output_, error);
  }
  const std::wstring name = claim ? NameInFolder(output_) : output_.filename().native();
  if (claim) TakeOverLooks(claim, file_);
  // The old output must be free for the rename to replace it.
  claim = File();
  const DWORD error = RetryWhileHeld([&] { return RenameOnto(file_, name, output_); });
  if (error != ERROR_SUCCESS) throw ECreateFailure(output_, SystemCode(error));
  committed_ = true;
  file_ = File();
}

}  // namespace mapconv::fs
