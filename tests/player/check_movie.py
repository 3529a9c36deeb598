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
import struct
import sys
import zlib

REQUESTS = ["getPlayState", "getDuration", "getPosition", "sendEvent"]
VARIABLES = ["file", "overstretch", "showdigits", "autostart", "showplayerbar",
             "callback", "enablejs", "streamscript"]
EVENTS = ["playpause", "stop", "position", "volume"]
RUNTIME = ["addCallback", "NetStream", "NetStream.Play.Stop", "HOME", "FULL_SCREEN", "parameters",
           "stop", "totalFrames", "currentFrame"]
SHOW_FRAME, FILE_ATTRIBUTES, DO_ABC, DO_ABC_OLD, SYMBOL_CLASS = 1, 69, 82, 72, 76
USE_NETWORK = 0x01


def u30(data, pos):
    value = shift = 0
    while True:
        b = data[pos]
        pos += 1
        value |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            return value, pos


def abc_strings(abc):
    pos = 4  # minor and major version
    n, pos = u30(abc, pos)
    for _ in range(max(n - 1, 0)):
        _, pos = u30(abc, pos)  # ints (varints)
    n, pos = u30(abc, pos)
    for _ in range(max(n - 1, 0)):
        _, pos = u30(abc, pos)  # uints
    n, pos = u30(abc, pos)
    pos += 8 * max(n - 1, 0)  # doubles
    n, pos = u30(abc, pos)
    strings = []
    for _ in range(max(n - 1, 0)):
        size, pos = u30(abc, pos)
        strings.append(abc[pos:pos + size].decode("utf-8"))
        pos += size
    return strings


def header(body):
    """The frame rate (frames per second) and count, and where the tags start."""
    # Rectangle of the stage: 5 bits of field width, then four fields.
    nbits = body[0] >> 3
    pos = (5 + 4 * nbits + 7) // 8
    rate, count = struct.unpack_from("<HH", body, pos)
    return rate / 256.0, count, pos + 4


def tags(body):
    pos = header(body)[2]
    while pos < len(body):
        code_len, = struct.unpack_from("<H", body, pos)
        pos += 2
        code, length = code_len >> 6, code_len & 0x3F
        if length == 0x3F:
            length, = struct.unpack_from("<I", body, pos)
            pos += 4
        yield code, body[pos:pos + length]
        pos += length
        if code == 0:
            break


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
    for code, payload in tags(body):
        if code in (DO_ABC, DO_ABC_OLD, SYMBOL_CLASS) and show_frames > 0:
            problems.append("code (tag %d) in frame %d: the callbacks must exist in frame 0" % (code, show_frames))
        if code == DO_ABC:  # flags, name, code
            name_end = payload.index(b"\0", 4)
            strings.update(abc_strings(payload[name_end + 1:]))
            abc_count += 1
        elif code == DO_ABC_OLD:
            strings.update(abc_strings(payload))
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
