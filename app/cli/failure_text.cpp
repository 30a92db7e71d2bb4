#include "app/cli/failure_text.h"

#include <string>

#include "app/cli/messages.h"
#include "app/common/error_report.h"
#include "mapconv/errors.h"
#include "mapconv/force_break.h"

namespace halfmap::cli {
namespace {

// What the command line says for each kind of failure the core expects.
Msg MessageFor(mapconv::BreakKind kind) {
  switch (kind) {
    case mapconv::BreakKind::Abort: return Msg::Interrupted;
    case mapconv::BreakKind::Open: return Msg::OpenError;
    case mapconv::BreakKind::Read:
    case mapconv::BreakKind::InputChanged: return Msg::ReadError;
    case mapconv::BreakKind::Write:
    case mapconv::BreakKind::NoSpace: return Msg::WriteError;
    case mapconv::BreakKind::Memory: return Msg::OutOfMemory;
    case mapconv::BreakKind::Format: return Msg::FormatError;
  }
  return Msg::Interrupted;
}

// Why, where the failure says more than its kind: a format error's reason,
// the space needed and free, or the system's words.
std::string ReasonFor(const mapconv::EForceBreak& e) {
  if (const auto* format = dynamic_cast<const mapconv::EFormatError*>(&e)) return format->reason();
  if (const auto* space = dynamic_cast<const mapconv::ENoSpace*>(&e)) {
    return Say(Msg::NotEnoughSpace, {std::to_string(space->needed()), std::to_string(space->available())});
  }
  if (e.code()) return SystemReason(e.code());
  // A read the system allowed that came back short: the file is cut.
  return e.kind() == mapconv::BreakKind::Read ? Say(Msg::EndsEarly) : "";
}

}  // namespace

std::string WithReason(std::string message, std::string_view reason) {
  if (reason.empty()) return message;
  return message + ": " + std::string(reason);
}

std::string WithSystemReason(std::string message, std::error_code code) {
  return code ? WithReason(std::move(message), SystemReason(code)) : message;
}

std::string FailureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const mapconv::EForceBreak& e) {
    return WithReason(Say(MessageFor(e.kind())), ReasonFor(e));
  } catch (const mapconv::EFolderRefused& e) {
    return WithSystemReason(Say(Msg::CannotCreateIn, {mapconv::PathText(e.folder())}), e.code());
  } catch (const mapconv::ECreateFailure& e) {
    return WithSystemReason(Say(Msg::CannotCreate, {mapconv::PathText(e.path())}), e.code());
  } catch (const std::exception& e) {
    return ErrorBoxText(e.what());  // the generic error box's text
  } catch (...) {
    return ErrorBoxText("unknown error");
  }
}

}  // namespace halfmap::cli
