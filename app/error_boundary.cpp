#include "app/error_boundary.h"

#include <exception>

#include "app/common/error_report.h"

namespace halfmap {
namespace {

void Show(const ErrorBoxShower& showBox, const char* message) noexcept {
  try {
    showBox(ErrorBoxText(message));
  } catch (...) {
    // Nothing is left to report with; the window goes on as it is.
  }
}

}  // namespace

void RunHandler(const std::function<void()>& handler, const ErrorBoxShower& showBox) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    Show(showBox, e.what());
  } catch (...) {
    Show(showBox, "unknown error");
  }
}

}  // namespace halfmap
