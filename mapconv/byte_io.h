// Where the conversion's bytes come from and go to: files in the tool, memory
// in tests and under the fuzzer. Every part that reads or writes bytes
// works through these two.
#pragma once

#include <cstdint>
#include <span>

namespace mapconv {

// Random-access input. ReadAt delivers exactly buffer.size() bytes or raises
// EShortRead. Size is the input's length in bytes, which the header checks
// hold offsets against before anything is written.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual void ReadAt(std::int64_t offset, std::span<std::byte> buffer) = 0;
  virtual std::int64_t Size() = 0;

  // The buffer.size() bytes at offset, as ReadAt gives them, either in buffer
  // or in memory the source already holds, which saves a copy; valid until
  // the source is next used.
  virtual std::span<const std::byte> View(std::int64_t offset, std::span<std::byte> buffer) {
    ReadAt(offset, buffer);
    return buffer;
  }
};

// Sequential output. Write stores all bytes or raises EShortWrite.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Told the whole output's size before the first Write; raises ENoSpace
  // (force_break.h) when it will not fit, EShortWrite when it may not grow so.
  virtual void Reserve(std::int64_t /*bytes*/) {}
  virtual void Write(std::span<const std::byte> bytes) = 0;
};

}  // namespace mapconv
