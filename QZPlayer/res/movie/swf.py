"""Reads SWF movies as the published SWF file format (version 10) lays them
out: the header's frame rate and count, the tags, and the strings of the
ActionScript 3 code. The build (two_frames.py) and the movie's structural test
(tests/player/check_movie.py) both read movies through it."""
import struct

END, SHOW_FRAME, FILE_ATTRIBUTES, DO_ABC_OLD, SYMBOL_CLASS, DO_ABC = 0, 1, 69, 72, 76, 82
USE_NETWORK = 0x01  # FileAttributes flag


def header(body):
    """The frame rate (frames per second) and count, and where the tags start,
    in a movie's body (what follows its 8-byte file header, inflated)."""
    # Rectangle of the stage: 5 bits of field width, then four fields.
    nbits = body[0] >> 3
    pos = (5 + 4 * nbits + 7) // 8
    rate, count = struct.unpack_from("<HH", body, pos)
    return rate / 256.0, count, pos + 4


def tags(body):
    """Each tag as (code, where it starts, its payload), up to the End tag."""
    pos = header(body)[2]
    while pos < len(body):
        start = pos
        code_len, = struct.unpack_from("<H", body, pos)
        pos += 2
        code, length = code_len >> 6, code_len & 0x3F
        if length == 0x3F:
            length, = struct.unpack_from("<I", body, pos)
            pos += 4
        yield code, start, body[pos:pos + length]
        pos += length
        if code == END:
            return


def abc_code(code, payload):
    """The ABC block a DoABC tag carries (after its flags and name), or None."""
    if code == DO_ABC:
        return payload[payload.index(b"\0", 4) + 1:]
    if code == DO_ABC_OLD:
        return payload
    return None


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
    """The strings of an ABC block's constant pool."""
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
