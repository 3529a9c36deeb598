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
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import swf  # noqa: E402

CODE_TAGS = {swf.DO_ABC_OLD, swf.DO_ABC, swf.SYMBOL_CLASS}


def main(src, dst):
    data = open(src, "rb").read()
    if data[:3] not in (b"CWS", b"FWS"):
        sys.exit("%s: not a SWF movie (%r)" % (src, data[:3]))
    version = data[3]
    body = zlib.decompress(data[8:]) if data[:3] == b"CWS" else data[8:]
    first = swf.header(body)[2]
    frames = 0
    end_at = None
    for code, start, _ in swf.tags(body):
        if code == swf.SHOW_FRAME:
            frames += 1
        elif code in CODE_TAGS and frames > 0:
            sys.exit("%s: code in frame %d; it must all be in frame 0" % (src, frames))
        elif code == swf.END:
            end_at = start
    if end_at is None:
        sys.exit("%s: no End tag" % src)
    if frames != 1:
        sys.exit("%s: %d frames; expected the one frame Haxe makes" % (src, frames))
    show_frame = struct.pack("<H", swf.SHOW_FRAME << 6)
    body = body[:end_at] + show_frame + body[end_at:]
    count_at = first - 2
    body = body[:count_at] + struct.pack("<H", frames + 1) + body[count_at + 2:]
    out = b"CWS" + bytes([version]) + struct.pack("<I", len(body) + 8) + zlib.compress(body, 9)
    open(dst, "wb").write(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
