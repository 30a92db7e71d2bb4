// Paths as the wide file functions take them past MAX_PATH: absolute, with
// the "\\?\" prefix (or "\\?\UNC\" for a share) that lifts the length limit.
// Only the file services use this form; what a user sees stays as given.
#pragma once

#include <filesystem>
#include <string>

namespace mapconv::fs {

// Relative paths are made absolute against the current folder, "." and
// ".." are resolved and "/" becomes "\" first, as the prefix turns that
// rewriting off. A path already in this form or naming a device (such as
// "\\.\CON") comes back unchanged; a path that cannot be made absolute too.
std::wstring LongPath(const std::filesystem::path& path);

}  // namespace mapconv::fs
