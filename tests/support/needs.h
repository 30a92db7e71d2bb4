// Tests that need something from outside the project (the bitmap suite
// beside it, ImageMagick) skip where it is missing on a developer's machine,
// but fail under CI, where a silent skip would pass without them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#define HALFMAP_NEEDS(available, what)                                         \
  do {                                                                         \
    if (!(available)) {                                                        \
      if (std::getenv("CI") != nullptr) FAIL() << what << " (required in CI)"; \
      GTEST_SKIP() << what;                                                    \
    }                                                                          \
  } while (0)
