// The half-scale conversion itself, over any source and sink of bytes, so it
// can run on files, on memory in tests and under a fuzzer alike.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "mapconv/halve_map.h"

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
  // Told the whole output's size before the first Write; raises EShortWrite
  // when it will not fit.
  virtual void Reserve(std::int64_t /*bytes*/) {}
  virtual void Write(std::span<const std::byte> bytes) = 0;
};

// Reads the map from source and writes its half-scale copy to sink: any
// bitmap that bmp_layout.h reads, at the same depth, kept pixels copied
// byte for byte, run-length rows written uncompressed. Calls check once
// before reading and once before every input row, and moves the bar from
// empty to full over the rows. Raises EFormatError ("bitmap format error",
// with a reason) for layouts it does not read, decided from the headers
// before anything is written, and for run-length rows that break the format;
// EShortRead, EShortWrite and EOutOfMemory untranslated; and whatever check
// or the bar raise.
void Halve(ByteSource& source, ByteSink& sink, ProgressBar& bar,
           const std::function<void()>& check);

}  // namespace mapconv
