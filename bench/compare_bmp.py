"""Tells how a bitmap compares with a reference one: byte for byte, pixel
for pixel (colours, in picture order) and palette for palette (the colour
table of a palette map). Prints three words: same or differ (or n/a)."""
import sys

import numpy as np


def u32(b, at, signed=False):
    return int.from_bytes(b[at:at + 4], "little", signed=signed)


def load(path):
    raw = np.fromfile(path, dtype=np.uint8)
    head = raw[:54].tobytes()
    if head[:2] != b"BM":
        raise ValueError(path + ": not a bitmap")
    offset, info = u32(head, 10), u32(head, 14)
    width, height = u32(head, 18, True), u32(head, 22, True)
    bits = int.from_bytes(head[28:30], "little")
    if u32(head, 30) not in (0, 3):
        raise ValueError(path + ": compressed")
    stride = (width * bits + 31) // 32 * 4
    rows = raw[offset:offset + stride * abs(height)].reshape(abs(height), stride)
    palette = None
    if bits in (1, 2, 4, 8):
        colours = u32(head, 46) or 1 << bits
        table = raw[14 + info:14 + info + 4 * colours].reshape(colours, 4)
        palette = table[:, :3]
        # Each byte's pixels, leftmost in its high bits.
        shifts = np.arange(8 - bits, -1, -bits, dtype=np.uint8)
        indices = (rows[:, :, None] >> shifts) & ((1 << bits) - 1)
        pixels = palette[indices.reshape(abs(height), -1)[:, :width]]
    elif bits in (24, 32):
        pixels = rows[:, :width * bits // 8].reshape(abs(height), width, bits // 8)[:, :, :3]
    else:
        raise ValueError(path + ": %d bits per pixel" % bits)
    if height > 0:
        pixels = pixels[::-1]  # bottom-up rows
    return raw, pixels, palette


def verdict(same):
    return "same" if same else "differ"


def main(ours, theirs):
    a_raw, a_pix, a_pal = load(ours)
    b_raw, b_pix, b_pal = load(theirs)
    same_bytes = a_raw.size == b_raw.size and bool((a_raw == b_raw).all())
    same_pixels = a_pix.shape == b_pix.shape and bool((a_pix == b_pix).all())
    if b_pal is None:
        palette = "n/a"
    else:
        palette = verdict(a_pal.shape == b_pal.shape and bool((a_pal == b_pal).all()))
    print(verdict(same_bytes), verdict(same_pixels), palette)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
