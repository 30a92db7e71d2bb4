// The few file services a conversion needs, with one Linux (mapconv/linux/)
// and one Win32 (mapconv/win32/) implementation chosen by the build. Every
// failure is a typed exception from errors.h; a File closes its handle when
// it goes away. docs/file-safety.md lays out the steps side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
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

// One file whatever its names: device and inode on POSIX, volume serial
// number and file id on Windows. Two paths name the same file exactly
// when their ids are equal (hard links, symlinks, other drive letters).
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t high = 0;  // the upper half of a 128-bit Windows file id
  bool operator==(const FileId&) const = default;
};
FileId IdOf(const File& file);
// Follows links; nullopt when the path cannot be opened or asked.
std::optional<FileId> IdOf(const std::filesystem::path& path) noexcept;

// True while another program has the file open for writing, so what a
// reader would see is half written. False when the system cannot tell. On
// Linux it takes a read lease for a moment, whose break is SIGIO: a caller
// ignores that signal, or a writer's open meanwhile ends the program.
bool HeldForWriting(const std::filesystem::path& file);

// What changes when someone writes to a file: its size and its modification
// and change times, as exact as the system keeps them.
struct Stamp {
  std::int64_t size = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool operator==(const Stamp&) const = default;
};
Stamp StampOf(const File& file);
// The same by name, following links, without opening the file for reading:
// no one's lock or hold makes it wait. nullopt when it cannot be asked.
std::optional<Stamp> StampOf(const std::filesystem::path& path) noexcept;

// The entry that the presence test accepts for this path, if any: the path
// itself, or where names are case-sensitive a same-folder name matching it
// ignoring ASCII case. Only a regular file (or a link to one) counts,
// whatever its date.
std::optional<std::filesystem::path> FindFile(const std::filesystem::path& path) noexcept;

// True for a name the system takes for a device wherever it stands (NUL,
// CON, COM1.TXT on Windows), or for a device file on POSIX.
bool IsDevice(const std::filesystem::path& path) noexcept;

// Opens an existing regular file for reading. Other readers may open it
// too; writers that honour locks are kept out while it is open, and one
// that holds it is waited out for about 2 s. Links are followed as
// ResolveOutput follows them. Raises EOpenFailure, with a FileError
// (errors.h): NotRegularFile for a folder, pipe or device, Device for a
// device name on Windows, ForeignLink, InUse.
File OpenForReading(const std::filesystem::path& path);

// Where an output that is a symlink really lives: the link's target,
// followed to the end, so replacing it keeps the link. Any other path comes
// back as it is. On POSIX a link is followed only where the kernel's
// protected_symlinks rule would follow it, whatever the system's setting:
// in a sticky folder everyone may write to, only a link of the user
// running the tool or of the folder's owner; any other raises
// ECreateFailure with FileError::ForeignLink.
std::filesystem::path ResolveOutput(const std::filesystem::path& path);

// Makes sure an existing file at this path may be replaced: nobody else holds
// it (a hold is waited out for about 2 s, then raises FileError::InUse) and
// it is not read-only. A link here is not followed. Raises
// ECreateFailure(path). While the returned
// File lives, others are kept out where the platform allows it; it is handed
// to ScratchFile::Commit, which reads the old output's identity from it.
File ClaimForReplace(const std::filesystem::path& path);

// Deletes the left-over `OUTPUT.tmp` of older versions: only a regular file
// of the user running the tool (any on Windows), never a link nor one that
// is the input (by FileId). Failures do not matter.
void RemoveStale(const std::filesystem::path& path, const FileId& input) noexcept;

// Fails with ENoSpace (force_break.h), before anything is written, when the file system
// holding file has less free than RoomNeeded (room_needed.h) for an output
// of bytes, counting on POSIX only what other users than root may write,
// and with EShortWrite (file too large) when bytes exceed the process's
// file-size limit.
void CheckSpace(const File& file, std::int64_t bytes);

// A conversion's own new file beside its output, on the same file system:
// a dot-name with the tool's name, a random part and ".tmp", created new
// (never an existing file, link or pipe) and held for the run, so that no
// other run touches it. Left-over scratch files of this output that no
// running conversion holds are removed first. Unless Commit has put it in
// the output's place, it is removed when this goes away, on every path.
class ScratchFile {
 public:
  // Raises ECreateFailure naming output, or the scratch name itself where
  // that name is the problem (too long).
  explicit ScratchFile(const std::filesystem::path& output);
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();

  const File& file() const noexcept { return file_; }
  const std::filesystem::path& path() const noexcept { return path_; }

  // Puts the finished file on disk, gives it the earlier output's identity
  // (mode without set-id bits, owner and group where allowed, access list
  // and user attributes; attributes on Windows) or, for a
  // new output, what a new file gets, then puts it in the output's place in
  // one step. claim is ClaimForReplace's file, empty for a new output.
  // Raises EShortWrite, ECreateFailure(output).
  void Commit(File claim);

 private:
  std::filesystem::path output_;
  std::filesystem::path path_;
  File file_;
  bool committed_ = false;
};

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

#ifdef _WIN32
// Paths as the wide file functions take them past MAX_PATH: absolute, with
// the "\\?\" prefix (or "\\?\UNC\" for a share) that lifts the length limit.
// For front ends that call the system themselves; what a user sees stays as
// given. Relative paths are made absolute against the current folder, "."
// and ".." are resolved and "/" becomes "\" first, as the prefix turns that
// rewriting off. A path already in this form or naming a device (such as
// "\\.\CON") comes back unchanged; a path that cannot be made absolute too.
std::wstring LongPath(const std::filesystem::path& path);
#endif

// True when path names a folder, links followed; false for anything else
// and when the system cannot say.
bool IsFolder(const std::filesystem::path& path);

}  // namespace mapconv::fs
