// libFuzzer entry: any byte string as a map, converted in memory and held to
// the model of the format. A disagreement aborts, so the fuzzer keeps it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "tests/hardening/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = std::as_bytes(std::span(data, size));
  const std::string mismatch = hardening::Replay(input);
  if (!mismatch.empty()) {
    std::fprintf(stderr, "conversion disagrees with the model: %s\n", mismatch.c_str());
    std::abort();
  }
  return 0;
}
