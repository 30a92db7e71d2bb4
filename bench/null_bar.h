// A progress bar that keeps the bar contract's range check and draws nothing,
// so the benchmarks time the conversion alone.
#pragma once

#include "mapconv/halve_map.h"

namespace bench {

class NullBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int value) override {
    mapconv::CheckProgressRange(value, max_);
    min_ = value;
  }
  void SetMax(int value) override {
    mapconv::CheckProgressRange(min_, value);
    max_ = value;
  }
  void SetPosition(int) override {}

 private:
  int min_ = 0;
  int max_ = 100;
};

}  // namespace bench
