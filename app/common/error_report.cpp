#include "app/common/error_report.h"

namespace halfmap {

std::u16string AppTitle(std::u16string_view exePath, LowerCaser lower) {
  std::u16string_view name = exePath;
  if (const auto slash = name.find_last_of(u"\\/"); slash != name.npos) name.remove_prefix(slash + 1);
  if (const auto dot = name.find(u'.'); dot != name.npos) name = name.substr(0, dot);
  if (name.empty()) return {};
  std::u16string title = lower(name.substr(1));
  title.insert(title.begin(), name.front());
  return title;
}

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  // In UTF-8 every byte of a multi-byte character lies above '.'.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

}  // namespace halfmap
