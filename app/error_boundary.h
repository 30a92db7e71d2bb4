// The edge of every event handler a windowing layer runs: whatever the
// handler lets escape is turned into the generic error box's text and shown,
// so no exception ever reaches the toolkit's event loop or a window procedure.
#pragma once

#include <functional>
#include <string>

namespace halfmap {

// Shows the generic error box with the finished text (see ErrorBoxText).
using ErrorBoxShower = std::function<void(const std::string& text)>;

// Runs handler; an exception it raises is shown with showBox, and then the
// program goes on in the state the handler left.
void RunHandler(const std::function<void()>& handler, const ErrorBoxShower& showBox) noexcept;

}  // namespace halfmap
