// Fails every file operation and allocation of a conversion in turn, one per
// run, and checks each time that the user gets the documented message, that
// nothing is left open or half-written, and that an earlier output survives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "mapconv/errors.h"
#include "mapconv/halve_map.h"
#include "mapconv/map_files.h"
#include "mapconv/test_hooks.h"
#include "tests/hardening/replay.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_folder.h"

namespace {

using mapconv::hooks::Op;
using testing_support::Bytes;

// The hook is a plain function, so its state lives here.
std::vector<Op> gSeen;
std::size_t gFailAt = SIZE_MAX;

bool Record(Op op) {
  gSeen.push_back(op);
  return gSeen.size() - 1 == gFailAt;
}

struct HookScope {
  HookScope() { mapconv::hooks::SetFaultHook(Record); }
  ~HookScope() { mapconv::hooks::SetFaultHook(nullptr); }
};

// What the user is told when this operation fails.
std::string ExpectedMessage(Op op) {
  switch (op) {
    case Op::Open: return "file open error";
    case Op::Read: return "read file error";
    case Op::Write:
    case Op::Flush: return "write file error";
    case Op::Alloc: return "out of memory";
    case Op::Claim:
    case Op::Create:
    case Op::Replace:
      return "ファイル " + mapconv::PathText(mapconv::OutputFileName("")) + " を作成できません";
  }
  return "?";
}

bool ExpectsForceBreak(Op op) { return op != Op::Claim && op != Op::Create && op != Op::Replace; }

// Runs one conversion and returns the kind and message it ended with.
std::string Convert() {
  hardening::SilentBar bar;
  try {
    mapconv::HalveMap("", bar, [] {});
  } catch (const mapconv::EForceBreak& e) {
    return std::string("break: ") + e.what();
  } catch (const mapconv::ECreateFailure& e) {
    return std::string("create: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "done";
}

struct Shape {
  const char* name;
  int width;
  int height;
  bool previousOutput;
  std::uint16_t bitCount = 8;
  std::uint32_t compression = 0;
};

// Returns the number of faults injected.
int InjectEveryFault(const Shape& shape) {
  SCOPED_TRACE(shape.name);
  testing_support::TempFolder folder;
  testing_support::BmpFields layout;
  layout.width = shape.width;
  layout.height = shape.height;
  layout.bitCount = shape.bitCount;
  layout.compression = shape.compression;
  layout.paletteEntries = 1u << shape.bitCount;
  layout.pixel = [&](int x, int y) { return static_cast<std::uint8_t>((x * 7 + y * 3) % layout.paletteEntries); };
  testing_support::WriteAll(mapconv::InputFileName(""), testing_support::MakeBmp(layout));
  const Bytes previous{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};
  if (shape.previousOutput) testing_support::WriteAll(mapconv::OutputFileName(""), previous);
  const auto namesBefore = folder.Names();
  const int openBefore = testing_support::OpenFileCount();

  HookScope hook;
  gSeen.clear();
  gFailAt = SIZE_MAX;
  EXPECT_EQ(Convert(), "done") << "dry run";
  const std::vector<Op> ops = gSeen;
  // Undo the dry run's output.
  if (shape.previousOutput) {
    testing_support::WriteAll(mapconv::OutputFileName(""), previous);
  } else {
    std::filesystem::remove(mapconv::OutputFileName(""));
  }

  for (std::size_t i = 0; i < ops.size(); ++i) {
    SCOPED_TRACE("fault at operation " + std::to_string(i));
    gSeen.clear();
    gFailAt = i;
    const std::string prefix = ExpectsForceBreak(ops[i]) ? "break: " : "create: ";
    EXPECT_EQ(Convert(), prefix + ExpectedMessage(ops[i]));
    EXPECT_EQ(testing_support::OpenFileCount(), openBefore);
    EXPECT_EQ(folder.Names(), namesBefore);  // no scratch file, no new output
    if (shape.previousOutput) {
      EXPECT_EQ(testing_support::ReadAll(mapconv::OutputFileName("")), previous);
    }
  }
  return static_cast<int>(ops.size());
}

TEST(FaultInjection, EveryFailedOperationIsReportedAndLosesNothing) {
  const Shape shapes[] = {
      {"small, over an earlier output", 13, 9, true},
      {"small, no earlier output", 13, 9, false},
      {"output larger than one write", 4200, 1000, true},
      {"row larger than one read", 2100000, 3, true},
      {"run-length rows, stream longer than one read", 3000, 800, true, 8, 1},
      {"4 bits, run-length rows", 301, 40, true, 4, 2},
      {"1 bit", 1001, 30, false, 1},
  };
  int injected = 0;
  for (const Shape& shape : shapes) injected += InjectEveryFault(shape);
  std::printf("faults injected: %d\n", injected);
  // The input is read in blocks of a megabyte; the larger shapes' block
  // reads and output writes alone come to some fifty.
  EXPECT_GE(injected, 50);
}

// The dry run must see every kind of operation, or some failure paths above
// went untried.
TEST(FaultInjection, DryRunMeetsEveryKindOfOperation) {
  testing_support::TempFolder folder;
  testing_support::WriteAll(mapconv::InputFileName(""), testing_support::MakeBmp({}));
  testing_support::WriteAll(mapconv::OutputFileName(""), Bytes(3));
  HookScope hook;
  gSeen.clear();
  gFailAt = SIZE_MAX;
  ASSERT_EQ(Convert(), "done");
  for (Op op : {Op::Open, Op::Claim, Op::Create, Op::Read, Op::Write, Op::Flush, Op::Replace, Op::Alloc}) {
    EXPECT_NE(std::find(gSeen.begin(), gSeen.end(), op), gSeen.end()) << static_cast<int>(op);
  }
}

}  // namespace
