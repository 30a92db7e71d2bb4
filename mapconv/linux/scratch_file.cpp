// The conversion's own scratch file on Linux (steps: docs/file-safety.md): created new with O_EXCL, never
// through a link or into a pipe, and held with an exclusive flock for its
// whole life, which is how a later run tells a left-over file from a live one.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "mapconv/errors.h"
#include "mapconv/file_services.h"
#include "mapconv/linux/extended_attributes.h"
#include "mapconv/linux/posix_calls.h"
#include "mapconv/scratch_names.h"
#include "mapconv/test_hooks.h"

namespace mapconv::fs {
namespace {

std::filesystem::path ParentFolder(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : ".";
}

// Removes a scratch file of output's that no live run holds: a run holds
// its own locked until it ends.
void RemoveIfLeftover(const std::filesystem::path& path) {
  const File file = OpenNonBlocking(path, O_RDONLY | O_NOFOLLOW);
  struct stat held {};
  if (!file || ::fstat(Fd(file), &held) != 0 || !S_ISREG(held.st_mode) || !Lock(Fd(file), LOCK_EX)) return;
  UnlinkIfStillNamed(path, held);
}

void RemoveLeftovers(const std::filesystem::path& output) {
  const std::filesystem::path folder = ParentFolder(output);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (IsScratchNameOf(output, entry->d_name)) RemoveIfLeftover(folder / entry->d_name);
  }
}

// The mode a new file gets here, 0666 less the umask, read without
// changing it, as other threads may be creating files meanwhile.
mode_t NewFileMode() {
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status)) {
      if (std::sscanf(line, "Umask: %o", &value) == 1) mask = static_cast<mode_t>(value);
    }
    std::fclose(status);
  }
  return 0666 & ~mask;
}

// The earlier output's owner, group, mode, access list and user
// attributes, as far as the system lets this user give them; a new output
// gets what a new file gets.
void TakeIdentity(const File& scratch, const File& claim) {
  struct stat old {};
  if (!claim || ::fstat(Fd(claim), &old) != 0) {
    ::fchmod(Fd(scratch), NewFileMode());
    return;
  }
  // Where the owner cannot be given, the group may still be one of this
  // user's.
  if (::fchown(Fd(scratch), old.st_uid, old.st_gid) != 0) ::fchown(Fd(scratch), static_cast<uid_t>(-1), old.st_gid);
  // New contents lose set-uid and set-gid, as the kernel takes them from a
  // file another user writes to: they were granted to the old program.
  ::fchmod(Fd(scratch), old.st_mode & 07777 & ~(S_ISUID | S_ISGID));
  // The access list last: setting it sets the group bits to its mask.
  CopyExtendedAttributes(Fd(claim), Fd(scratch));
}

// Makes the new name durable; a folder that cannot be synced still holds a
// complete file under one name or the other.
void SyncFolder(const std::filesystem::path& folder) {
  const File handle = OpenNonBlocking(folder, O_RDONLY | O_DIRECTORY);
  if (handle) ::fsync(Fd(handle));
}

}  // namespace

ScratchFile::ScratchFile(const std::filesystem::path& output) : output_(output) {
  if (hooks::Fails(hooks::Op::Create)) throw ECreateFailure(output);
  RemoveLeftovers(output);
  for (int attempt = 0; attempt < 8; ++attempt) {
    path_ = NewScratchName(output);
    // Only we may read it until it becomes the output and takes its mode.
    File file = OpenNonBlocking(path_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!file) {
      if (errno == EEXIST) continue;
      const std::error_code error = LastError();
      throw ECreateFailure(error == std::errc::filename_too_long ? path_ : output, error);
    }
    struct stat st {};
    // Another run's clean-up may take the name between the open and the
    // lock; a file no longer named is no use.
    if (!Lock(Fd(file), LOCK_EX) || ::fstat(Fd(file), &st) != 0 || st.st_nlink == 0) continue;
    file_ = std::move(file);
    return;
  }
  throw ECreateFailure(output, std::make_error_code(std::errc::file_exists));
}

ScratchFile::~ScratchFile() {
  // Removed while still locked, so no other run's clean-up can meet it.
  if (!committed_ && file_) ::unlink(path_.c_str());
}

void ScratchFile::Commit(File claim) {
  TakeIdentity(file_, claim);
  Flush(file_);
  if (hooks::Fails(hooks::Op::Replace)) throw ECreateFailure(output_);
  if (::rename(path_.c_str(), output_.c_str()) != 0) throw ECreateFailure(output_, LastError());
  committed_ = true;
  file_ = File();
  SyncFolder(ParentFolder(output_));
}

}  // namespace mapconv::fs
