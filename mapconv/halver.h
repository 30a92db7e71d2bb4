// The half-scale conversion itself, over any source and sink of bytes, so it
// can run on files, on memory in tests and under a fuzzer alike.
#pragma once

#include <functional>

#include "mapconv/byte_io.h"
#include "mapconv/halve_map.h"

namespace mapconv {

// Reads the map from source and writes its half-scale copy to sink: any
// bitmap that bmp_layout.h reads, at the same depth, kept pixels copied
// byte for byte, run-length rows written uncompressed. Calls check once
// before reading and once before every input row, and moves the bar from
// empty to full over the rows. Raises EFormatError ("bitmap format error",
// with a reason) for layouts it does not read, decided from the headers
// before anything is written, and for run-length rows that break the format;
// EShortRead, EShortWrite and EOutOfMemory untranslated; and whatever check
// or the bar raise. Returns the map's size as ReadMapSize gives it.
MapSize Halve(ByteSource& source, ByteSink& sink, ProgressBar& bar,
           const std::function<void()>& check);

}  // namespace mapconv
