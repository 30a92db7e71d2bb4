// libFuzzer entry: any byte string as a map, converted in memory and held to
// the model of the format. A disagreement aborts, so the fuzzer keeps it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "tests/hardening/replay.h"

namespace {

// Run-length maps are held to tighter limits than in the replay test: a few
// bytes of stream that declare a large map would spend each run on up to a
// megabyte of zero pixels, and the fuzzer would try a third as many inputs.
// Rows wider than a piece of decoded pixels and outputs larger than one
// write are the unit tests' (Halve's many sizes, the fault injection's
// shapes).
constexpr hardening::Limits kLimits{.outputBytes = 16 * 1024, .rows = 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = std::as_bytes(std::span(data, size));
  const std::string mismatch = hardening::Replay(input, kLimits);
  if (!mismatch.empty()) {
    std::fprintf(stderr, "conversion disagrees with the model: %s\n", mismatch.c_str());
    std::abort();
  }
  return 0;
}
