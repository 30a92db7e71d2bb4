// The fixed set of map files beside the executable: the three variants,
// the names derived from them, and the presence test the start-up probe uses.
// Every map file name the tool ever builds comes from here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace mapconv {

// One map's input and the output it is converted to.
struct MapPaths {
  std::filesystem::path input, output;
};

enum class MapVariant : std::uint8_t { Normal, NoFixed, XRay };

// Probe order, run order and the window's row order.
inline constexpr std::array<MapVariant, 3> kMapVariants{
    MapVariant::Normal, MapVariant::NoFixed, MapVariant::XRay};

std::string_view Suffix(MapVariant variant) noexcept;

// Folder of the running executable, with its trailing separator; never the
// current directory.
std::filesystem::path AppFolder();

std::filesystem::path InputFileName(std::string_view suffix);
std::filesystem::path OutputFileName(std::string_view suffix);
// The output name with ".tmp" appended: where older versions wrote a
// conversion first. A conversion now writes a scratch file of its own and
// removes a regular file of this name only when the output is present.
std::filesystem::path ScratchFileName(std::string_view suffix);

// The same names in any folder, with or without its trailing separator; an
// empty folder gives names relative to the current directory.
std::filesystem::path InputFileName(const std::filesystem::path& folder, std::string_view suffix);
std::filesystem::path OutputFileName(const std::filesystem::path& folder, std::string_view suffix);
std::filesystem::path ScratchFileName(const std::filesystem::path& folder, std::string_view suffix);

// output + ".tmp", as ScratchFileName gives it for a map.
std::filesystem::path ScratchFileFor(const std::filesystem::path& output);

// True when the path names a regular file, or a link to one, whatever its
// date; folders, pipes and devices are absent. Where names are
// case-sensitive, a file in the same folder whose name matches ignoring ASCII
// case counts too. Never fails: anything that cannot be searched is absent.
bool present(const std::filesystem::path& path) noexcept;

}  // namespace mapconv
