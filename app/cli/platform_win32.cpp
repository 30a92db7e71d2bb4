// halfmap-cli's platform services on Windows: the user interface language,
// FormatMessageW's words, and the watch over ReadDirectoryChangesW.
#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "app/cli/file_watch.h"
#include "app/cli/messages.h"
#include "app/wide_text.h"

namespace halfmap::cli {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The wake-up every watch also waits on; made before main and never closed,
// so the console's control handler, on a thread of its own, can set it.
const HANDLE gWake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

void Check(bool ok) {
  if (!ok) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
}

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a.parent_path() == b.parent_path() &&
         ::CompareStringOrdinal(a.filename().c_str(), -1, b.filename().c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

Language UserLanguage() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese : Language::English;
}

std::string PlatformReason(std::error_code code) {
  if (code.category() != std::system_category()) return code.message();
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code.value()), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(text, ::LocalFree);
  if (length == 0) return "error " + std::to_string(code.value());
  std::wstring_view message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.remove_suffix(1);
  }
  return win32::Narrow(message);
}

// One folder's pending ReadDirectoryChangesW.
struct WatchedFolder {
  std::filesystem::path path;
  Handle folder;
  Handle event;
  OVERLAPPED overlapped{};
  alignas(DWORD) std::array<std::byte, 16384> buffer{};

  void Start() {
    ::ResetEvent(event.get());
    overlapped = {};
    overlapped.hEvent = event.get();
    Check(::ReadDirectoryChangesW(folder.get(), buffer.data(), static_cast<DWORD>(buffer.size()), FALSE,
                                  FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                      FILE_NOTIFY_CHANGE_SIZE,
                                  nullptr, &overlapped, nullptr));
  }

  // The names changed since Start; every file of the folder when the
  // system's list overflowed. Starts the next read.
  std::vector<std::filesystem::path> Changed(const std::vector<std::filesystem::path>& files) {
    DWORD got = 0;
    Check(::GetOverlappedResult(folder.get(), &overlapped, &got, FALSE));
    std::vector<std::filesystem::path> names;
    for (DWORD at = 0; got > 0;) {
      const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer.data() + at);
      if (info->Action != FILE_ACTION_REMOVED && info->Action != FILE_ACTION_RENAMED_OLD_NAME) {
        names.push_back(path / std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)));
      }
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
    if (got == 0) {
      for (const auto& file : files) {
        if (SameName(file.parent_path() / L"x", path / L"x")) names.push_back(file);
      }
    }
    Start();
    return names;
  }
};

struct FileWatch::Native {
  std::vector<std::unique_ptr<WatchedFolder>> folders;
  std::vector<bool> saved;  // by file: changed, not yet handed on
};

FileWatch::FileWatch(std::vector<std::filesystem::path> files)
    : files_(std::move(files)), native_(std::make_unique<Native>()) {
  Check(gWake != nullptr);
  for (const auto& file : files_) {
    const std::filesystem::path path = file.parent_path();
    bool known = false;
    for (const auto& folder : native_->folders) known = known || folder->path == path;
    if (known) continue;
    auto folder = std::make_unique<WatchedFolder>();
    folder->path = path;
    folder->folder.reset(::CreateFileW((path.empty() ? std::filesystem::path(L".") : path).c_str(),
                                       FILE_LIST_DIRECTORY,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                       nullptr));
    Check(folder->folder.get() != INVALID_HANDLE_VALUE);
    folder->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Check(folder->event != nullptr);
    folder->Start();
    native_->folders.push_back(std::move(folder));
  }
}

FileWatch::~FileWatch() {
  for (const auto& folder : native_->folders) {
    // The system must be done with the buffer before it goes.
    DWORD ignored = 0;
    if (::CancelIoEx(folder->folder.get(), &folder->overlapped)) {
      ::GetOverlappedResult(folder->folder.get(), &folder->overlapped, &ignored, TRUE);
    }
  }
}

WatchNews FileWatch::Wait() {
  std::vector<HANDLE> waits{gWake};
  for (const auto& folder : native_->folders) waits.push_back(folder->event.get());
  std::vector<bool>& saved = native_->saved;
  saved.resize(files_.size());
  // Takes the changes of every folder whose event is set, waiting up to
  // timeout for the first; false once woken.
  const auto take = [&](DWORD timeout) {
    for (DWORD woken; (woken = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                        timeout)) != WAIT_TIMEOUT;
         timeout = 0) {
      Check(woken != WAIT_FAILED);
      if (woken == WAIT_OBJECT_0) return false;
      for (const auto& name : native_->folders[woken - WAIT_OBJECT_0 - 1]->Changed(files_)) {
        for (std::size_t i = 0; i < files_.size(); ++i) saved[i] = saved[i] || SameName(files_[i], name);
      }
    }
    return true;
  };
  while (std::find(saved.begin(), saved.end(), true) == saved.end()) {
    if (!take(INFINITE)) return {};
  }
  // Windows tells of writes as they happen, not of the writer's close, so a
  // file is handed on once no other program holds it for writing; the
  // changes told meanwhile belong to the same save. Only a file being
  // written is looked at again, and only until its writer is done.
  for (std::size_t i = 0; i < files_.size(); ++i) {
    while (saved[i] && HeldForWriting(files_[i])) {
      if (::WaitForSingleObject(gWake, 50) == WAIT_OBJECT_0) return {};
    }
  }
  if (!take(0)) return {};
  // A file saved again just now and still held waits for the next call.
  std::vector<std::filesystem::path> done;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!saved[i] || HeldForWriting(files_[i])) continue;
    saved[i] = false;
    done.push_back(files_[i]);
  }
  return {done, {}};
}

bool HeldForWriting(const std::filesystem::path& file) {
  const Handle reader(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  return reader.get() == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

void WakeFileWatches() noexcept { ::SetEvent(gWake); }

}  // namespace halfmap::cli
