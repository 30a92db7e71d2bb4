// Which folder the window works on: the one its command line names, or
// beside the executable as ever. Decided once at start-up from plain values
// (the arguments, the executable's path, the current folder), so it holds
// no Qt or Win32 code and is tested as it is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace halfmap {

struct MapFolder {
  enum class Kind : std::uint8_t {
    BesideExecutable,  // no folder given: the window as it always was
    Given,             // a folder of the user's, shown in the window
    None,              // the command line named no usable folder: every map missing
  };
  Kind kind = Kind::BesideExecutable;
  std::filesystem::path path;  // absolute; only for Given
};

struct FolderChoice {
  MapFolder folder;
  // UTF-8, for a message box before the window; empty when all is well.
  std::string message;
};

// args: the command line without the program and the toolkit's own options.
// Relative arguments are taken from current. With no argument, an
// executable under one of systemFolders (where no maps ever lie) works on
// current instead of its own folder.
FolderChoice ChooseMapFolder(std::span<const std::filesystem::path> args, const std::filesystem::path& executable,
                             const std::filesystem::path& current,
                             std::span<const std::filesystem::path> systemFolders);

}  // namespace halfmap
