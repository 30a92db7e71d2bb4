// The progress display on a terminal: one line per running map with a bar,
// its percentage and speed, redrawn in place. Only builds the text; the
// caller writes it to stderr and decides when (at most 10 times a second).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace halfmap::cli {

struct ProgressRow {
  std::string name;  // UTF-8
  double fraction = 0;        // 0 to 1
  double bytesPerSecond = 0;  // input read so far over time taken
};

class ProgressView {
 public:
  explicit ProgressView(int columns) : columns_(columns < 40 ? 40 : columns) {}

  // Text that replaces the block drawn last with these rows, leaving the
  // cursor at the start of the line below it.
  std::string Draw(const std::vector<ProgressRow>& rows);

  // Text that erases the block drawn last, so other output can take its
  // place; the next Draw starts afresh.
  std::string Clear();

 private:
  std::string Up() const;

  int columns_;
  std::size_t drawn_ = 0;
};

// One row's line without control characters, at most columns - 1 wide
// (counting each character as one column, a Japanese one as two).
std::string ProgressLine(const ProgressRow& row, int columns);

}  // namespace halfmap::cli
