#include "app/cli/escape.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace halfmap::cli {
namespace {

unsigned Byte(std::string_view text, std::size_t at) {
  return at < text.size() ? static_cast<unsigned char>(text[at]) : 0;
}

// Bytes of the UTF-8 character at `at`, or 0 where none starts: a stray or
// missing continuation byte, an overlong form, a surrogate or a code point
// past U+10FFFF, as strict decoders (Python's among them) judge.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const unsigned lead = Byte(text, at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // what the second byte may be
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (Byte(text, at + 1) < low || Byte(text, at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (Byte(text, at + i) < 0x80 || Byte(text, at + i) > 0xBF) return 0;
  }
  return length;
}

// The code point of a control character at `at`, or -1 for any other
// character. C1 controls are U+0080 to U+009F, whose second byte is the
// code point itself.
int ControlAt(std::string_view text, std::size_t at, std::size_t length) {
  const unsigned lead = Byte(text, at);
  if (length == 1 && (lead < 0x20 || lead == 0x7F)) return static_cast<int>(lead);
  if (length == 2 && lead == 0xC2 && Byte(text, at + 1) < 0xA0) return static_cast<int>(Byte(text, at + 1));
  return -1;
}

std::string Hex(const char* format, unsigned value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), format, value);
  return text.data();
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8Length(text, at);
    const std::size_t bytes = std::max<std::size_t>(length, 1);
    if (length == 0 || ControlAt(text, at, length) >= 0) {
      for (std::size_t i = 0; i < bytes; ++i) shown += Hex("\\x%02x", Byte(text, at + i));
    } else {
      shown.append(text, at, bytes);
    }
    at += bytes;
  }
  return shown;
}

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8Length(text, at);
    const int control = ControlAt(text, at, length);
    if (length == 0) {
      quoted += Hex("\\udc%02x", Byte(text, at));
      at += 1;
      continue;
    }
    if (control >= 0) {
      quoted += Hex("\\u%04x", static_cast<unsigned>(control));
    } else if (text[at] == '"' || text[at] == '\\') {
      quoted += '\\';
      quoted += text[at];
    } else {
      quoted.append(text, at, length);
    }
    at += length;
  }
  return quoted + '"';
}

}  // namespace halfmap::cli
