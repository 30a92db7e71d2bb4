// Bytes in memory as the conversion's source and sink, for tests and the
// fuzzer: the format logic runs without any file.
#pragma once

#include <cstring>
#include <span>
#include <vector>

#include "mapconv/errors.h"
#include "mapconv/halver.h"

namespace testing_support {

class MemorySource final : public mapconv::ByteSource {
 public:
  explicit MemorySource(std::span<const std::byte> data) : data_(data) {}
  void ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
    ++reads;
    const auto size = static_cast<std::int64_t>(data_.size());
    if (offset < 0 || offset > size || size - offset < static_cast<std::int64_t>(buffer.size())) {
      throw mapconv::EShortRead();
    }
    if (!buffer.empty()) std::memcpy(buffer.data(), data_.data() + offset, buffer.size());
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  int reads = 0;

 private:
  std::span<const std::byte> data_;
};

class MemorySink final : public mapconv::ByteSink {
 public:
  void Write(std::span<const std::byte> bytes) override { data.insert(data.end(), bytes.begin(), bytes.end()); }
  std::vector<std::byte> data;
};

}  // namespace testing_support
