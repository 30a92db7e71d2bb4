// How names reach a person and a program. File names are bytes: on a
// terminal a control character in one could move the cursor or clear the
// screen, and a JSON reader wants UTF-8. Both escapes leave UTF-8 text,
// Japanese included, as it is.
#pragma once

#include <string>
#include <string_view>

namespace halfmap::cli {

// The text with each byte of a control character (C0, DEL, C1) and each
// byte that is not part of UTF-8 written as \xHH. A backslash stays as it
// is, so Windows paths read as usual; the result escapes to itself.
std::string Printable(std::string_view text);

// The text as a quoted JSON string. Control characters (C0, DEL, C1) are
// \u escapes; a byte that is not part of UTF-8 is the lone surrogate
// \udcHH, as Python's "surrogateescape" reads it back into that byte.
std::string JsonString(std::string_view text);

}  // namespace halfmap::cli
