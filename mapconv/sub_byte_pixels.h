// The kept pixels (even columns) of rows stored below 8 bits, picked a byte
// at a time rather than pixel by pixel. At 1, 2 and 4 bits every stored byte
// holds an even number of pixels, so its kept ones fill exactly one nibble
// of the output, which is packed at the same depth.
#pragma once

#include <cstddef>

namespace mapconv {

// The kept pixels of one stored byte at bits (1, 2 or 4) per pixel, the
// leftmost in the nibble's high bits.
unsigned KeptNibble(int bits, unsigned byte);

// dst[i] takes the kept pixels of src[2i] and src[2i + 1], for i < count.
void PackKeptNibbles(int bits, const unsigned char* src, unsigned char* dst, std::size_t count);

// The same for rows decoded one 4-bit index a byte: dst[i] takes indices
// src[4i] and src[4i + 2], for i < count.
void PackKeptIndices(const unsigned char* src, unsigned char* dst, std::size_t count);

}  // namespace mapconv
