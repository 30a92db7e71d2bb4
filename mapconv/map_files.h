// The fixed set of map files beside the executable: the three variants,
// the names derived from them, and the presence test the start-up probe uses.
// Every map file name the tool ever builds comes from here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace mapconv {

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
// Where a conversion is written before it replaces the output: always the
// output name with ".tmp" appended.
std::filesystem::path ScratchFileName(std::string_view suffix);

// The same names in any folder, with or without its trailing separator; an
// empty folder gives names relative to the current directory.
std::filesystem::path InputFileName(const std::filesystem::path& folder, std::string_view suffix);
std::filesystem::path OutputFileName(const std::filesystem::path& folder, std::string_view suffix);
std::filesystem::path ScratchFileName(const std::filesystem::path& folder, std::string_view suffix);

// Where a conversion to output is written first: output + ".tmp".
std::filesystem::path ScratchFileFor(const std::filesystem::path& output);

// True when the path names a file (not a directory) whose last-write time in
// local time lies from 1980-01-01 to 2107-12-31. Where names are
// case-sensitive, a file in the same folder whose name matches ignoring ASCII
// case counts too. Never fails: anything that cannot be searched is absent.
bool present(const std::filesystem::path& path) noexcept;

}  // namespace mapconv
