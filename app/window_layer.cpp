#include "app/window_layer.h"

#include <algorithm>
#include <cstdint>

namespace halfmap {

void ProgressBarControl::SetMin(int value) {
  range_.SetMin(value);
  Redraw();
}

void ProgressBarControl::SetMax(int value) {
  range_.SetMax(value);
  Redraw();
}

void ProgressBarControl::SetPosition(int value) {
  position_ = value;
  Redraw();
}

int WholeTenths(int min, int max, int position) {
  if (position >= max) return 10;
  if (position <= min) return 0;
  return static_cast<int>((std::int64_t{position} - min) * 10 / (std::int64_t{max} - min));
}

std::string WindowDescription(std::string_view status, std::string_view folder) {
  std::string description(status);
  if (!folder.empty()) description.append("\n").append(ui::text::kFolderIs).append(folder);
  return description;
}

void ProgressBarControl::Redraw() { Draw(Min(), Max(), std::clamp(position_, Min(), Max())); }

}  // namespace halfmap
