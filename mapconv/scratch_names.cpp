#include "mapconv/scratch_names.h"

#include <random>
#include <string>

namespace mapconv {
namespace {

constexpr std::string_view kTool = ".halfmap-";
constexpr std::string_view kTail = ".tmp";
constexpr std::size_t kRandomDigits = 12;
// Room for the rest within the common 255-byte limit on a name, so a long
// output name still gets a scratch file.
constexpr std::size_t kMostOfOutputName = 160;

// The output's name, cut at a character boundary where it is long.
std::u8string Stem(const std::filesystem::path& output) {
  std::u8string name = output.filename().u8string();
  if (name.size() <= kMostOfOutputName) return name;
  std::size_t end = kMostOfOutputName;
  while (end > 0 && (name[end] & 0xC0) == 0x80) --end;  // not inside a UTF-8 sequence
  return name.substr(0, end);
}

std::u8string Prefix(const std::filesystem::path& output) {
  std::u8string prefix = u8".";
  prefix += Stem(output);
  prefix.append(kTool.begin(), kTool.end());
  return prefix;
}

bool IsHexDigit(char8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::filesystem::path NewScratchName(const std::filesystem::path& output) {
  thread_local std::mt19937_64 random{(std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::u8string name = Prefix(output);
  std::uint64_t bits = random();
  for (std::size_t i = 0; i < kRandomDigits; ++i, bits >>= 4) name += static_cast<char8_t>(kDigits[bits & 15]);
  name.append(kTail.begin(), kTail.end());
  return output.parent_path() / std::filesystem::path(name);
}

bool IsScratchNameOf(const std::filesystem::path& output, const std::filesystem::path& name) {
  const std::u8string prefix = Prefix(output);
  const std::u8string text = name.filename().u8string();
  if (text.size() != prefix.size() + kRandomDigits + kTail.size() || !text.starts_with(prefix)) return false;
  const std::u8string_view digits = std::u8string_view(text).substr(prefix.size(), kRandomDigits);
  for (const char8_t c : digits) {
    if (!IsHexDigit(c)) return false;
  }
  return text.ends_with(std::u8string(kTail.begin(), kTail.end()));
}

}  // namespace mapconv
