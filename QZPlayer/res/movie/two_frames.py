#!/usr/bin/env python3
"""Gives the movie Haxe compiled a second, empty frame.

Haxe puts everything into one frame, but the Flash control counts FrameNum
from 0 and the player asks the movie nothing before FrameNum reaches 1, so
the shell movie needs at least two frames. This appends one ShowFrame tag before the End tag, sets the header's frame count to match and
writes the movie compressed again (CWS, zlib), with its new length.

  two_frames.py <movie compiled by Haxe> <movie to write>

It refuses a movie whose code does not all sit in its first frame: the
callbacks must exist before the movie reaches frame index 1.
"""
import struct
import sys
import zlib

SHOW_FRAME = 1
END = 0
CODE_TAGS = {72, 82, 76}  # DoABC (old and new form), SymbolClass


def header_size(body):
    nbits = body[0] >> 3
    return (5 + 4 * nbits + 7) // 8 + 4  # stage rectangle, frame rate, frame count


def tags(body, pos):
    while pos < len(body):
        start = pos
        code_len, = struct.unpack_from("<H", body, pos)
        pos += 2
        code, length = code_len >> 6, code_len & 0x3F
        if length == 0x3F:
            length, = struct.unpack_from("<I", body, pos)
            pos += 4
        yield code, start, pos + length
        pos += length
        if code == END:
            return


def main(src, dst):
    data = open(src, "rb").read()
    if data[:3] not in (b"CWS", b"FWS"):
        sys.exit("%s: not a SWF movie (%r)" % (src, data[:3]))
    version = data[3]
    body = zlib.decompress(data[8:]) if data[:3] == b"CWS" else data[8:]
    first = header_size(body)
    frames = 0
    end_at = None
    for code, start, _ in tags(body, first):
        if code == SHOW_FRAME:
            frames += 1
        elif code in CODE_TAGS and frames > 0:
            sys.exit("%s: code in frame %d; it must all be in frame 0" % (src, frames))
        elif code == END:
            end_at = start
    if end_at is None:
        sys.exit("%s: no End tag" % src)
    if frames != 1:
        sys.exit("%s: %d frames; expected the one frame Haxe makes" % (src, frames))
    show_frame = struct.pack("<H", SHOW_FRAME << 6)
    body = body[:end_at] + show_frame + body[end_at:]
    count_at = first - 2
    body = body[:count_at] + struct.pack("<H", frames + 1) + body[count_at + 2:]
    out = b"CWS" + bytes([version]) + struct.pack("<I", len(body) + 8) + zlib.compress(body, 9)
    open(dst, "wb").write(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
