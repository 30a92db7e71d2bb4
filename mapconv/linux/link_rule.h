// Links are followed only where the kernel's protected_symlinks rule would
// follow them, whatever the system's setting: in a sticky folder that
// everyone may write to, only a link of the user running the tool or of
// the folder's owner. Anyone could have planted any other link there, to
// make the tool read or replace a file of the user's that its planter
// cannot reach.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "mapconv/file_services.h"

namespace mapconv::fs {

// A name that was no link when looked at, in a folder held open.
struct LinkFreeName {
  File folder;                 // opened with O_PATH
  std::string name;            // within folder
  std::filesystem::path path;  // the same as one path, for messages and later calls
};

// Follows path's links one hop at a time, each read through the folder that
// holds it. error is FileError::ForeignLink for a link the rule refuses,
// ELOOP for a chain the system would not follow, or why a folder on the way
// cannot be opened; a name with nothing there is no error.
LinkFreeName FollowTrustedLinks(const std::filesystem::path& path, std::error_code& error);

// Opens the name without following a link that has appeared there since.
File OpenAt(const LinkFreeName& at, int flags, mode_t mode = 0);

}  // namespace mapconv::fs
