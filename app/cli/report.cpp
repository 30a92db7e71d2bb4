#include "app/cli/report.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>

#include "mapconv/errors.h"
#include "mapconv/file_services.h"

namespace halfmap::cli {
namespace {

std::string SizeText(const std::optional<Size>& size) {
  if (!size) return "?";
  return std::to_string(size->width) + "x" + std::to_string(size->height);
}

std::string Seconds(double seconds) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.3f", seconds);
  return text.data();
}

// A JSON string. Control characters are escaped; other bytes pass as they
// are, since paths and messages are UTF-8.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      std::array<char, 8> escape{};
      std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(c));
      quoted += escape.data();
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

std::string Number(const std::optional<Size>& size, std::int64_t Size::*field) {
  return size ? std::to_string((*size).*field) : "null";
}

std::string_view StatusName(Status status) {
  switch (status) {
    case Status::Converted: return "converted";
    case Status::Failed: return "failed";
    case Status::Aborted: return "aborted";
  }
  return "failed";
}

std::int64_t LittleEndian(std::span<const std::byte> bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = value << 8 | std::to_integer<std::uint64_t>(bytes[i]);
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::string TextLine(const MapReport& report) {
  return mapconv::PathText(report.input) + " -> " + mapconv::PathText(report.output) + "  " +
         SizeText(report.size) + " -> " + SizeText(report.outSize) + "  " + Seconds(report.seconds) +
         " s\n";
}

std::string JsonLine(const MapReport& report) {
  const bool failed = report.status != Status::Converted;
  return "{\"input\":" + Quoted(mapconv::PathText(report.input)) +
         ",\"output\":" + Quoted(mapconv::PathText(report.output)) +
         ",\"status\":" + Quoted(StatusName(report.status)) +
         ",\"error\":" + (failed ? Quoted(report.error) : "null") +
         ",\"width\":" + Number(report.size, &Size::width) +
         ",\"height\":" + Number(report.size, &Size::height) +
         ",\"out_width\":" + Number(report.outSize, &Size::width) +
         ",\"out_height\":" + Number(report.outSize, &Size::height) +
         ",\"seconds\":" + Seconds(report.seconds) + "}\n";
}

std::string ErrorLine(const MapReport& report) {
  return "halfmap-cli: " + mapconv::PathText(report.input) + ": " + report.error + "\n";
}

std::optional<Size> BitmapSize(const std::filesystem::path& path) noexcept {
  // File header, then the info header's size and the two dimensions: 16-bit
  // in the 12-byte core header, 32-bit signed in every later one.
  try {
    std::array<std::byte, 26> head{};
    mapconv::fs::ReadAt(mapconv::fs::OpenExclusive(path), 0, head);
    const std::span<const std::byte> bytes(head);
    if (bytes[0] != std::byte{'B'} || bytes[1] != std::byte{'M'}) return std::nullopt;
    if (LittleEndian(bytes.subspan(14, 4)) == 12) {
      return Size{LittleEndian(bytes.subspan(18, 2)), LittleEndian(bytes.subspan(20, 2))};
    }
    const auto width = static_cast<std::int32_t>(LittleEndian(bytes.subspan(18, 4)));
    const auto height = static_cast<std::int32_t>(LittleEndian(bytes.subspan(22, 4)));
    return Size{width, height < 0 ? -std::int64_t{height} : height};
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace halfmap::cli
