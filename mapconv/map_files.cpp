#include "mapconv/map_files.h"

#include "mapconv/file_services.h"
#include "mapconv/test_hooks.h"

namespace mapconv {
namespace {

constexpr std::string_view kStem = "MAP29361206-";

std::filesystem::path MapFileName(const std::filesystem::path& folder, std::string_view suffix,
                                  std::string_view tail) {
  std::filesystem::path name = folder;
  // Names are built by appending, so a folder needs its separator.
  if (name.has_filename()) name += std::filesystem::path::preferred_separator;
  name += kStem;
  name += suffix;
  name += tail;
  return name;
}

}  // namespace

std::string_view Suffix(MapVariant variant) noexcept {
  switch (variant) {
    case MapVariant::Normal: return "";
    case MapVariant::NoFixed: return "NS";
    case MapVariant::XRay: return "X";
  }
  return "";
}

std::filesystem::path AppFolder() {
  if (const auto& folder = hooks::AppFolderOverride(); !folder.empty()) return folder;
  return fs::ExecutablePath().remove_filename();
}

std::filesystem::path InputFileName(std::string_view suffix) {
  return InputFileName(AppFolder(), suffix);
}

std::filesystem::path OutputFileName(std::string_view suffix) {
  return OutputFileName(AppFolder(), suffix);
}

std::filesystem::path ScratchFileName(std::string_view suffix) {
  return ScratchFileName(AppFolder(), suffix);
}

std::filesystem::path InputFileName(const std::filesystem::path& folder, std::string_view suffix) {
  return MapFileName(folder, suffix, "1.BMP");
}

std::filesystem::path OutputFileName(const std::filesystem::path& folder, std::string_view suffix) {
  return MapFileName(folder, suffix, "2.BMP");
}

std::filesystem::path ScratchFileName(const std::filesystem::path& folder, std::string_view suffix) {
  return ScratchFileFor(OutputFileName(folder, suffix));
}

std::filesystem::path ScratchFileFor(const std::filesystem::path& output) {
  return std::filesystem::path(output) += ".tmp";
}

bool present(const std::filesystem::path& path) noexcept {
  return fs::FindFile(path).has_value();
}

}  // namespace mapconv
