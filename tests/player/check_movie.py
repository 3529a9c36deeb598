#!/usr/bin/env python3
"""Checks the built shell movie without a Flash runtime: a compressed SWF
whose declared length is its real one, with ActionScript 3 code whose
constant pool names the four requests, the eight address variables and
the runtime members the movie depends on."""
import struct
import sys
import zlib

REQUESTS = ["getPlayState", "getDuration", "getPosition", "sendEvent"]
VARIABLES = ["file", "overstretch", "showdigits", "autostart", "showplayerbar",
             "callback", "enablejs", "streamscript"]
EVENTS = ["playpause", "stop", "position", "volume"]
RUNTIME = ["addCallback", "NetStream", "NetStream.Play.Stop", "HOME", "FULL_SCREEN", "parameters"]


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


def tags(body):
    # Rectangle of the stage: 5 bits of field width, then four fields.
    nbits = body[0] >> 3
    pos = (5 + 4 * nbits + 7) // 8 + 4  # rectangle, frame rate, frame count
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


def main(path):
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
    strings = set()
    abc_count = 0
    for code, payload in tags(body):
        if code == 82:  # DoABC: flags, name, code
            name_end = payload.index(b"\0", 4)
            strings.update(abc_strings(payload[name_end + 1:]))
            abc_count += 1
        elif code == 72:
            strings.update(abc_strings(payload))
            abc_count += 1
    if not abc_count:
        problems.append("no ActionScript 3 code")
    for name in REQUESTS + VARIABLES + EVENTS + RUNTIME:
        if name not in strings:
            problems.append("the code does not name %r" % name)
    print("%s: CWS version %d, %d bytes (%d expanded), %d code blocks, %d names"
          % (path, version, len(data), len(body) + 8, abc_count, len(strings)))
    return problems


if __name__ == "__main__":
    found = main(sys.argv[1])
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
