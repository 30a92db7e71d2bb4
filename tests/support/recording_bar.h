// A progress bar for tests that keeps the real bar's contract (a maximum
// below the minimum is refused) and records every position it was given.
#pragma once

#include <vector>

#include "mapconv/halve_map.h"

namespace testing_support {

class RecordingBar : public mapconv::ProgressBar {
 public:
  void SetMin(int value) override {
    mapconv::CheckProgressRange(value, max);
    min = value;
  }
  void SetMax(int value) override {
    mapconv::CheckProgressRange(min, value);
    max = value;
  }
  void SetPosition(int value) override { positions.push_back(value); }

  int min = 0;
  int max = 100;
  std::vector<int> positions;
};

}  // namespace testing_support
