// Names of a conversion's own scratch files: a dot-name made of the
// output's name, the tool's name, a random part and ".tmp", so one run's file
// is never another's and never taken for a user's file
// (".MAP29361206-2.BMP.halfmap-3f9c0a1b2d4e.tmp").
#pragma once

#include <filesystem>

namespace mapconv {

// A new name beside output, different on every call.
std::filesystem::path NewScratchName(const std::filesystem::path& output);

// True for a name that NewScratchName(output) could have given.
bool IsScratchNameOf(const std::filesystem::path& output, const std::filesystem::path& name);

}  // namespace mapconv
