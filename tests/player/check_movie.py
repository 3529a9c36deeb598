#!/usr/bin/env python3
"""Checks the built shell movie without a Flash runtime: a compressed SWF
whose declared length is its real one, with ActionScript 3 code whose
constant pool names the four requests, the eight address variables and
the runtime members the movie depends on; at least two frames (the header's
frame count, and as many ShowFrame tags), with all the code in frame 0, so
that the callbacks exist before the movie reaches frame index 1, where the
player's readiness gate opens (FrameNum counts from 0); and the sandbox
of each build (Main.hx): the network build asks for local-with-networking
(FileAttributes UseNetwork), the local build for local-with-file-system (no
UseNetwork). Arguments: the network build, then the local build."""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "QZPlayer", "res", "movie"))
from swf import DO_ABC, DO_ABC_OLD, FILE_ATTRIBUTES, SHOW_FRAME, SYMBOL_CLASS, USE_NETWORK  # noqa: E402
from swf import abc_code, abc_strings, header, tags  # noqa: E402

REQUESTS = ["getPlayState", "getDuration", "getPosition", "sendEvent"]
VARIABLES = ["file", "overstretch", "showdigits", "autostart", "showplayerbar",
             "callback", "enablejs", "streamscript"]
EVENTS = ["playpause", "stop", "position", "volume"]
RUNTIME = ["addCallback", "NetStream", "NetStream.Play.Stop", "HOME", "FULL_SCREEN", "parameters",
           "stop", "totalFrames", "currentFrame"]


def main(path, use_network):
    data = open(path, "rb").read()
    problems = []
    if data[:3] != b"CWS":
        problems.append("not a compressed movie: %r" % data[:3])
        return problems
    version = data[3]
    declared, = struct.unpack_from("<I", data, 4)
    body = zlib.decompress(data[8:])
    if declared != len(body) + 8:
        problems.append("declared length %d, real %d" % (declared, len(body) + 8))
    if version < 9:
        problems.append("version %d cannot carry ActionScript 3" % version)
    rate, frame_count, _ = header(body)
    strings = set()
    abc_count = 0
    show_frames = 0
    attributes = None
    for code, _, payload in tags(body):
        if code in (DO_ABC, DO_ABC_OLD, SYMBOL_CLASS) and show_frames > 0:
            problems.append("code (tag %d) in frame %d: the callbacks must exist in frame 0" % (code, show_frames))
        abc = abc_code(code, payload)
        if abc is not None:
            strings.update(abc_strings(abc))
            abc_count += 1
        elif code == SHOW_FRAME:
            show_frames += 1
        elif code == FILE_ATTRIBUTES:
            attributes = payload[0]
    if frame_count < 2:
        problems.append("the header counts %d frame(s): FrameNum would never reach 1" % frame_count)
    if show_frames != frame_count:
        problems.append("the header counts %d frames, the tags show %d" % (frame_count, show_frames))
    if attributes is None:
        problems.append("no FileAttributes tag")
    elif bool(attributes & USE_NETWORK) != use_network:
        problems.append("%s: FileAttributes %s UseNetwork, the other build's sandbox"
                        % (path, "with" if attributes & USE_NETWORK else "without"))
    if not abc_count:
        problems.append("no ActionScript 3 code")
    for name in REQUESTS + VARIABLES + EVENTS + RUNTIME:
        if name not in strings:
            problems.append("the code does not name %r" % name)
    print("%s: CWS version %d, %d bytes (%d expanded), %d code blocks, %d names, %d frames at %g per second"
          % (path, version, len(data), len(body) + 8, abc_count, len(strings), frame_count, rate))
    return problems


if __name__ == "__main__":
    found = main(sys.argv[1], True) + main(sys.argv[2], False)
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
