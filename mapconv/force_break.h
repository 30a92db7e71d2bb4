// The failures that end a conversion with a short message for the status
// bar, and what kind each is, so front ends choose their own words by kind
// rather than by the window's text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "mapconv/errors.h"

namespace mapconv {

// Abort: the check asked to stop. The rest are the failures a conversion
// expects; each has the window's English text (StatusText). NoSpace and
// InputChanged are kinds of their own for front ends with room to say more;
// the status bar shows them as a write and a read error.
enum class BreakKind : std::uint8_t { Abort, Open, Read, Write, Memory, Format, NoSpace, InputChanged };

// "file open error", "read file error" (Read, InputChanged), "write file
// error" (Write, NoSpace), "out of memory", "bitmap format error"; empty for
// Abort, whose text the caller gives.
std::string_view StatusText(BreakKind kind) noexcept;

// Ends a run with a short message for the status bar: an abort (the check's
// own text), or one of the expected failures with its kind's text. code()
// is the system's error behind a file failure, empty for the rest.
class EForceBreak : public ECodedFailure {
 public:
  explicit EForceBreak(const std::string& message, std::error_code code = {})
      : ECodedFailure(message, code), kind_(BreakKind::Abort) {}
  explicit EForceBreak(BreakKind kind, std::error_code code = {})
      : ECodedFailure(std::string(StatusText(kind)), code), kind_(kind) {}
  BreakKind kind() const noexcept { return kind_; }

 private:
  BreakKind kind_;
};

// A bitmap the conversion does not read, or whose bytes break its format.
// The status bar shows only "bitmap format error"; reason() says what is
// wrong in the user's words ("7 bits per pixel is not a bitmap depth"), for
// front ends with room for it.
class EFormatError : public EForceBreak {
 public:
  explicit EFormatError(const std::string& reason) : EForceBreak(BreakKind::Format), reason_(reason) {}
  const char* reason() const noexcept { return reason_.what(); }

 private:
  std::runtime_error reason_;  // copies without throwing, as exceptions must
};

// Too little free space for the output, found by the file services before
// any of it is written. The status bar shows "write file error"; needed()
// and available() are in bytes, for front ends with room to say them.
class ENoSpace : public EForceBreak {
 public:
  ENoSpace(std::int64_t needed, std::int64_t available)
      : EForceBreak(BreakKind::NoSpace, std::make_error_code(std::errc::no_space_on_device)),
        needed_(needed), available_(available) {}
  std::int64_t needed() const noexcept { return needed_; }
  std::int64_t available() const noexcept { return available_; }

 private:
  std::int64_t needed_;
  std::int64_t available_;
};

}  // namespace mapconv
