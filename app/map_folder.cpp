#include "app/map_folder.h"

#include <algorithm>
#include <cctype>

#include "mapconv/errors.h"
#include "mapconv/file_services.h"
#include "resources/layout.h"

namespace halfmap {
namespace {

// Windows names match whatever their case.
constexpr bool kFoldCase = std::filesystem::path::preferred_separator == L'\\';

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (!kFoldCase) return a == b;
  const auto fold = [](const std::filesystem::path& name) {
    std::u8string text = name.u8string();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char8_t c) { return c < 0x80 ? static_cast<char8_t>(std::tolower(c)) : c; });
    return text;
  };
  return fold(a) == fold(b);
}

bool LiesUnder(const std::filesystem::path& path, const std::filesystem::path& folder) {
  const std::filesystem::path inner = path.lexically_normal();
  const std::filesystem::path outer = folder.lexically_normal();
  auto at = inner.begin();
  for (const auto& part : outer) {
    if (part.empty()) continue;  // the trailing separator of "/usr/"
    if (at == inner.end() || !SameName(*at, part)) return false;
    ++at;
  }
  return true;
}

// Absolute and without "." or a trailing separator, as the window shows it.
std::filesystem::path Tidy(const std::filesystem::path& folder) {
  std::filesystem::path tidy = folder.lexically_normal();
  if (!tidy.has_filename() && tidy.has_relative_path()) tidy = tidy.parent_path();
  return tidy;
}

}  // namespace

FolderChoice ChooseMapFolder(std::span<const std::filesystem::path> args, const std::filesystem::path& executable,
                             const std::filesystem::path& current,
                             std::span<const std::filesystem::path> systemFolders) {
  using Kind = MapFolder::Kind;
  if (args.empty()) {
    const bool installed = std::any_of(systemFolders.begin(), systemFolders.end(),
                                       [&](const auto& folder) { return LiesUnder(executable, folder); });
    if (installed) return {{Kind::Given, Tidy(current)}, {}};
    return {};
  }
  const std::string expected(ui::text::kFolderExpected);
  if (args.size() > 1) return {{Kind::None, {}}, expected};
  const std::filesystem::path folder = Tidy(current / args.front());
  if (!mapconv::fs::IsFolder(folder))
    return {{Kind::None, {}}, "「" + mapconv::PathText(args.front()) + "」\n" + expected};
  return {{Kind::Given, folder}, {}};
}

}  // namespace halfmap
