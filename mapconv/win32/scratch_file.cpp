// The conversion's own file beside its output on Windows, and how it takes
// the output's place. While it is written, the system is told to remove it
// when its handle closes, so that not even a killed process leaves it
// behind; that is cancelled just before it is moved into place.
#include <windows.h>

#include <memory>
#include <string>

#include "mapconv/errors.h"
#include "mapconv/file_services.h"
#include "mapconv/scratch_names.h"
#include "mapconv/test_hooks.h"
#include "mapconv/win32/handles.h"
#include "mapconv/win32/long_path.h"

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
// conversion holds its own without sharing and has it marked for removal,
// so deleting that one fails and it stays.
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
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsScratchOf(output, entry.cFileName)) {
      ::DeleteFileW(LongPath(folder / entry.cFileName).c_str());
    }
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

// Wine's ReplaceFileW does not carry the replaced file's attributes and
// creation time over, so they are given to the new file beforehand; the
// system's own ReplaceFileW does the same again.
void TakeOverLooks(const File& old, const File& replacement) {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(Native(old), FileBasicInfo, &basic, sizeof basic)) return;
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO looks{};  // zero times and attributes are left as they are
  looks.CreationTime = basic.CreationTime;
  looks.FileAttributes = basic.FileAttributes & kKept;
  ::SetFileInformationByHandle(Native(replacement), FileBasicInfo, &looks, sizeof looks);
}

// One attempt at putting the closed scratch file in the output's place.
// replacing turns false once the output turns out to be gone.
DWORD PutInPlace(const std::wstring& scratch, const std::wstring& output, bool& replacing) {
  if (replacing) {
    if (::ReplaceFileW(output.c_str(), scratch.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
      return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    // Removed meanwhile, or by the replace itself before it gave up: the
    // scratch file still has its name and is moved instead.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) return error;
    replacing = false;
  }
  return ::MoveFileExW(scratch.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? ERROR_SUCCESS
             : ::GetLastError();
}

}  // namespace

ScratchFile::ScratchFile(const std::filesystem::path& output) : output_(output) {
  if (hooks::Fails(hooks::Op::Create)) throw ECreateFailure(output);
  RemoveLeftovers(output);
  for (int draw = 0;; ++draw) {
    path_ = NewScratchName(output);
    // No sharing: another run cannot open, rename or delete it.
    file_ = Adopt(::CreateFileW(LongPath(path_).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS && draw < 8) continue;  // someone else's name: draw again
    // A name too long for the folder is the scratch name's own problem.
    const bool nameTooLong = error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME;
    throw ECreateFailure(nameTooLong ? path_ : output, SystemCode(error));
  }
  // Where the file system cannot do this, the destructor deletes by name.
  SetDeleteOnClose(file_, true);
}

ScratchFile::~ScratchFile() {
  if (committed_) return;
  const bool removedOnClose = DeletePending(file_);
  file_ = File();
  if (!removedOnClose) RemoveHeld(path_);
}

void ScratchFile::Commit(File claim) {
  Flush(file_);
  if (hooks::Fails(hooks::Op::Replace)) throw ECreateFailure(output_);
  if (!SetDeleteOnClose(file_, false) && DeletePending(file_)) throw ECreateFailure(output_, LastError());
  const bool hadOutput = static_cast<bool>(claim);
  bool replacing = hadOutput;
  if (replacing) TakeOverLooks(claim, file_);
  // ReplaceFileW and MoveFileExW open both files themselves: neither may
  // still be held here.
  file_ = File();
  claim = File();
  const std::wstring scratch = LongPath(path_);
  const std::wstring output = LongPath(output_);
  const DWORD error = RetryWhileHeld([&] { return PutInPlace(scratch, output, replacing); });
  // Where the replace removed the output but could not move ours in, ours
  // is now the only copy of the map, and stays under its own name.
  committed_ = error == ERROR_SUCCESS || (hadOutput && !replacing);
  if (error != ERROR_SUCCESS) throw ECreateFailure(output_, SystemCode(error));
}

}  // namespace mapconv::fs
