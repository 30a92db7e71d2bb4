// Seams for tests: a folder to use instead of the executable's own, and a
// hook that makes one chosen file or memory operation fail. Both are off in
// the tool itself; each check costs one branch.
#pragma once

#include <cstdint>
#include <filesystem>

namespace mapconv::hooks {

enum class Op : std::uint8_t { Open, Claim, Create, Read, Write, Flush, Replace, Alloc };

// Called before every operation of that kind; returning true makes it fail
// as the platform would (a short count, a failed open, no memory).
using FaultHook = bool (*)(Op);

void SetFaultHook(FaultHook hook) noexcept;
bool Fails(Op op) noexcept;

// An empty path restores the executable's folder. Set it only while no
// conversion runs; conversions read it without a lock.
void SetAppFolder(const std::filesystem::path& folder);
const std::filesystem::path& AppFolderOverride() noexcept;

}  // namespace mapconv::hooks
