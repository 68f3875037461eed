#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Usage: make_seeds.py   (run from anywhere; rewrites the seeds beside it)
Each seed is a small, well-formed case that the fuzzer then mutates: it only
has to reach the interesting code, not to fail.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    path = os.path.join(HERE, "corpus", target, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def image_text(width, height, value, line_end="\n"):
    return "".join(" ".join(str(value(x, y)) for x in range(width)) + line_end
                   for y in range(height)).encode()


def text_reader():
    t = "text_reader"
    write(t, "rows", b"1 2 3\n4 5 6\n")
    write(t, "crlf_and_tail", b"1 2 3\r\n4 5 6\r\n7 8 9")
    write(t, "values", b"0 65535 65536\n2147483647 0000000000000000042 9\n")
    write(t, "too_large", b"1 2\n3 2147483648\n")
    write(t, "separators", b"-5 3.7\xff\x80 9\n")
    write(t, "nul", b"1 2\n3 4\n\x005 6 7\n")
    write(t, "uneven", b"1 2 3\n4 5\n")
    write(t, "blank_lines", b"\n\n")
    write(t, "separator_at_end", b"12 34\n56 78\n9 ")
    write(t, "ramp", image_text(6, 6, lambda x, y: 700 * x + 13 * y))


def chain_case(width, height, samples, wide=False):
    """Width and height as the target reads them (1 + byte % 64), the sample
    form, then the samples: one byte (times 16) or two little-endian."""
    head = bytes([width - 1, height - 1, 1 if wide else 0])
    if wide:
        return head + b"".join(struct.pack("<H", s) for s in samples)
    return head + bytes(s // 16 for s in samples)


def analysis_chain():
    t = "analysis_chain"

    def picture(width, height, bright):
        return [1000 if bright(x, y) else 0 for y in range(height) for x in range(width)]

    def two_blocks(x, y):
        return (10 <= x <= 15 and 2 <= y <= 7) or (2 <= x <= 7 and 5 <= y <= 10)

    def ring(x, y):
        d = (x - 12) ** 2 + (y - 12) ** 2
        return 36 <= d <= 100

    def comb(x, y):
        return 2 <= x <= 29 and 2 <= y <= 12 and (y >= 10 or (x - 2) % 5 < 3)

    write(t, "two_blocks", chain_case(20, 14, picture(20, 14, two_blocks)))
    write(t, "ring", chain_case(25, 25, picture(25, 25, ring)))
    write(t, "comb", chain_case(32, 15, picture(32, 15, comb)))
    write(t, "ramp", chain_case(12, 12, [x * 16 for y in range(12) for x in range(12)]))
    write(t, "smallest", chain_case(4, 4, [0, 4000, 0, 4000] * 4))
    write(t, "too_narrow", chain_case(3, 9, [x * 1000 for y in range(9) for x in range(3)]))
    noise = [(x * 7919 + y * 104729) % 65536 for y in range(16) for x in range(16)]
    write(t, "noise_wide", chain_case(16, 16, noise, wide=True))


def bmp_case(header_width, header_height, ops):
    return struct.pack("<II", header_width, header_height) + bytes(ops)


def u16s(values):
    return list(b"".join(struct.pack("<H", v) for v in values))


def u32s(values, fmt="<I"):
    return list(b"".join(struct.pack(fmt, v) for v in values))


def bmp_writer():
    t = "bmp_writer"
    # Operation bytes: 0 width, 1 height (next byte: size + 2), 2 windowed,
    # 3 windowed float, 4 labels (next bytes: W, H, samples, window), 5 save
    # (next byte: rows a band - 1), 6 gradient (next bytes: W - 2, H - 2,
    # samples, window). A last save follows the operations.
    run = (
        [0, 3 + 2, 1, 2 + 2]
        + [2, 3, 2] + u16s([0, 16, 17, 2040, 4094, 4095]) + u32s([0, 4095])
        + [5, 0]
        + [4, 3, 2] + u16s([0, 1, 2, 15, 16, 65535])
        + [5, 2 - 1]
        + [0, 2 + 2, 1, 1 + 2]
        + [3, 2, 1] + u32s([0.5, float("nan")], "<f") + u32s([0.0, 1.0], "<f")
        + [5, 40]
    )
    write(t, "driver_sequence", bmp_case(3, 2, run))
    write(t, "largest_header", bmp_case(32768, 32767, [0, 0, 1, 40 + 2, 5, 0]))
    write(t, "header_too_large", bmp_case(32768, 32768, [0, 40 + 2, 1, 0, 5, 0]))
    samples = [(x * 7919 + y * 104729) % 65536 for y in range(3) for x in range(4)]
    write(t, "gradient_window", bmp_case(1, 1, [6, 2, 1] + u16s(samples) + u32s([0.0, 100000.0], "<f") + [5, 0]))
    write(t, "reversed_window", bmp_case(1, 1, [2, 4, 1] + u16s([0, 100, 200, 300]) + u32s([200, 100]) + [5, 0]))


if __name__ == "__main__":
    text_reader()
    analysis_chain()
    bmp_writer()
