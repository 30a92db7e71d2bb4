// The core's failures in the command line's words: the kind of failure in
// the user's language, and the system's reason where there is one.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <system_error>

namespace halfmap::cli {

// "message: reason", or the message alone for an empty reason.
std::string WithReason(std::string message, std::string_view reason);

// The message with the system's words for code, where the system gave one.
std::string WithSystemReason(std::string message, std::error_code code);

// What went wrong with a map, for the exception a conversion, check or
// replacement raised: the expected failures by kind, anything else as the
// window's generic error box says it.
std::string FailureText(const std::exception_ptr& failure);

}  // namespace halfmap::cli
