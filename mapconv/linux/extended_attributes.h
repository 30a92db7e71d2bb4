// The access list and the user's own attributes of a file, carried over to
// the file that replaces it where the file system keeps them.
#pragma once

namespace mapconv::fs {

// Copies system.posix_acl_access and every user.* attribute from one open
// file to another. What the file system or this user may not copy is left
// out: the output is still written.
void CopyExtendedAttributes(int from, int to) noexcept;

}  // namespace mapconv::fs
