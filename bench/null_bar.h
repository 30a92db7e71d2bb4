// A progress bar that keeps the bar contract's range check and draws nothing,
// so the benchmarks time the conversion alone.
#pragma once

#include "mapconv/errors.h"
#include "mapconv/halve_map.h"

namespace bench {

class NullBar final : public mapconv::ProgressBar {
 public:
  void SetMin(int value) override {
    Refuse(value, max_);
    min_ = value;
  }
  void SetMax(int value) override {
    Refuse(min_, value);
    max_ = value;
  }
  void SetPosition(int) override {}

 private:
  static void Refuse(int min, int max) {
    if (max < min) throw mapconv::EInvalidOperation::PropertyOutOfRange("TProgressBar");
  }
  int min_ = 0;
  int max_ = 100;
};

}  // namespace bench
