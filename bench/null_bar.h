// A progress bar that keeps the bar contract's range check and draws nothing,
// so the benchmarks time the conversion alone.
#pragma once

#include "mapconv/halve_map.h"

namespace bench {

class NullBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int value) override { range_.SetMin(value); }
  void SetMax(int value) override { range_.SetMax(value); }
  void SetPosition(int) override {}

 private:
  mapconv::ProgressRange<> range_;
};

}  // namespace bench
