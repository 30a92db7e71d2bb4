#include "mapconv/force_break.h"

namespace mapconv {

std::string_view StatusText(BreakKind kind) noexcept {
  switch (kind) {
    case BreakKind::Abort: return {};
    case BreakKind::Open: return "file open error";
    case BreakKind::Read:
    case BreakKind::InputChanged: return "read file error";
    case BreakKind::Write:
    case BreakKind::NoSpace: return "write file error";
    case BreakKind::Memory: return "out of memory";
    case BreakKind::Format: return "bitmap format error";
  }
  return {};
}

}  // namespace mapconv
