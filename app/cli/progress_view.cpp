#include "app/cli/progress_view.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace halfmap::cli {
namespace {

constexpr int kBarWidth = 20;

bool StartsCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// Columns a UTF-8 character takes: two from U+1000 on (a lead byte of 0xE1
// or more) covers the CJK text that map folders are named in, one otherwise.
int CharacterColumns(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) >= 0xE1 ? 2 : 1;
}

int Columns(std::string_view text) {
  int columns = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (StartsCharacter(text[i])) columns += CharacterColumns(text, i);
  }
  return columns;
}

// The end of the name, shortened from the front with "..." to fit.
std::string Fit(std::string_view name, int columns) {
  if (Columns(name) <= columns) return std::string(name);
  std::size_t start = name.size();
  int used = 3;
  while (start > 0) {
    std::size_t prev = start - 1;
    while (prev > 0 && !StartsCharacter(name[prev])) --prev;
    const int width = CharacterColumns(name, prev);
    if (used + width > columns) break;
    used += width;
    start = prev;
  }
  return "..." + std::string(name.substr(start));
}

}  // namespace

std::string ProgressLine(const ProgressRow& row, int columns) {
  const double fraction = std::clamp(row.fraction, 0.0, 1.0);
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::array<char, 64> figures{};
  std::snprintf(figures.data(), figures.size(), " %3d%% %7.1f MiB/s", static_cast<int>(fraction * 100),
                row.bytesPerSecond / (1024.0 * 1024.0));
  const std::string bar = " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]";
  const int room = columns - 1 - static_cast<int>(bar.size() + std::string_view(figures.data()).size());
  return Fit(row.name, std::max(room, 8)) + bar + figures.data();
}

std::string ProgressView::Up() const {
  return drawn_ == 0 ? std::string("\r") : "\r\x1b[" + std::to_string(drawn_) + "A";
}

std::string ProgressView::Draw(const std::vector<ProgressRow>& rows) {
  std::string text = Up();
  for (const ProgressRow& row : rows) text += "\x1b[2K" + ProgressLine(row, columns_) + "\n";
  text += "\x1b[J";  // rows of maps that have finished since
  drawn_ = rows.size();
  return text;
}

std::string ProgressView::Clear() {
  std::string text = Up() + "\x1b[J";
  drawn_ = 0;
  return text;
}

}  // namespace halfmap::cli
