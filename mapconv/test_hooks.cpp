#include "mapconv/test_hooks.h"

#include <atomic>

namespace mapconv::hooks {
namespace {
// Atomic, as conversions may run on several threads while a test sets it.
std::atomic<FaultHook> gFaultHook = nullptr;
std::filesystem::path gAppFolder;
}  // namespace

void SetFaultHook(FaultHook hook) noexcept { gFaultHook.store(hook, std::memory_order_relaxed); }

bool Fails(Op op) noexcept {
  const FaultHook hook = gFaultHook.load(std::memory_order_relaxed);
  return hook != nullptr && hook(op);
}

void SetAppFolder(const std::filesystem::path& folder) {
  gAppFolder = folder;
  // Names are built by appending to the folder, so it needs its separator.
  if (!gAppFolder.empty() && gAppFolder.has_filename()) gAppFolder += std::filesystem::path::preferred_separator;
}

const std::filesystem::path& AppFolderOverride() noexcept { return gAppFolder; }

}  // namespace mapconv::hooks
