#include "mapconv/test_hooks.h"

namespace mapconv::hooks {
namespace {
FaultHook gFaultHook = nullptr;
std::filesystem::path gAppFolder;
}  // namespace

void SetFaultHook(FaultHook hook) noexcept { gFaultHook = hook; }

bool Fails(Op op) noexcept { return gFaultHook != nullptr && gFaultHook(op); }

void SetAppFolder(const std::filesystem::path& folder) {
  gAppFolder = folder;
  // Names are built by appending to the folder, so it needs its separator.
  if (!gAppFolder.empty() && gAppFolder.has_filename()) gAppFolder += std::filesystem::path::preferred_separator;
}

const std::filesystem::path& AppFolderOverride() noexcept { return gAppFolder; }

}  // namespace mapconv::hooks
