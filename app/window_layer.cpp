#include "app/window_layer.h"

#include <algorithm>
#include <cstdint>

namespace halfmap {
namespace {
constexpr const char* kBarClass = "TProgressBar";
}

void ProgressBarControl::SetMin(int value) {
  if (max_ < value) throw mapconv::EInvalidOperation::PropertyOutOfRange(kBarClass);
  min_ = value;
  Redraw();
}

void ProgressBarControl::SetMax(int value) {
  if (value < min_) throw mapconv::EInvalidOperation::PropertyOutOfRange(kBarClass);
  max_ = value;
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

void ProgressBarControl::Redraw() { Draw(min_, max_, std::clamp(position_, min_, max_)); }

}  // namespace halfmap
