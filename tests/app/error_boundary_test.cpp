#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/error_boundary.h"
#include "mapconv/errors.h"

namespace {

using halfmap::RunHandler;

TEST(RunHandlerTest, ShowsWhatEscapesAndNothingElse) {
  std::vector<std::string> shown;
  const auto show = [&](const std::string& text) { shown.push_back(text); };

  bool ran = false;
  RunHandler([&] { ran = true; }, show);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(shown.empty());

  RunHandler([] { throw mapconv::EInvalidOperation::PropertyOutOfRange("TProgressBar"); }, show);
  RunHandler([] { throw std::runtime_error("disk gone."); }, show);
  RunHandler([] { throw 42; }, show);
  EXPECT_EQ(shown, (std::vector<std::string>{"プロパティ TProgressBar の範囲を超えています.", "disk gone.",
                                             "unknown error."}));
}

TEST(RunHandlerTest, ABoxThatFailsIsSwallowed) {
  EXPECT_NO_THROW(RunHandler([] { throw std::runtime_error("x"); },
                             [](const std::string&) { throw std::runtime_error("no box"); }));
}

}  // namespace
