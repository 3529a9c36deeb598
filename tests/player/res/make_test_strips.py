"""Strips for the button tests: every image a distinct solid colour inside a
3-pixel border of the mask colour, so a test can tell from one pixel which
image was drawn and whether the mask showed the background.

    python3 make_test_strips.py OUTDIR
"""
import struct
import sys
from pathlib import Path

MASK = (0, 128, 128)
# Image i is drawn in COLOURS[i]; the tests hold the same table.
COLOURS = [(200, 0, 0), (0, 200, 0), (0, 0, 200), (200, 200, 0), (200, 0, 200), (0, 200, 200), (100, 100, 100)]
BORDER = 3


def bmp(width, height, pixel):
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        data += line + b"\0" * (row - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)) + header + data


def strip(count, frame_w, frame_h):
    def pixel(x, y):
        i, fx = divmod(x, frame_w)
        inside = BORDER <= fx < frame_w - BORDER and BORDER <= y < frame_h - BORDER
        return COLOURS[i] if inside else MASK
    return bmp(count * frame_w, frame_h, pixel)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "test_strip4.bmp").write_bytes(strip(4, 26, 26))
    (out / "test_strip7.bmp").write_bytes(strip(7, 23, 23))


if __name__ == "__main__":
    main()
