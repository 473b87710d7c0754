#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs, taken from the test suite's cases."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def counting(n, changes=()):
    data = bytearray(i & 0xFF for i in range(n))
    for at, value in changes:
        data[at] = value
    return bytes(data)


def report_seed(original, patched, width=16, address=0, capacity=0):
    # Layout read by fuzz_report.cpp: width-1, address (LE), capacity step, original length (BE).
    return bytes([width - 1]) + struct.pack("<I", address) + bytes([capacity]) + \
        struct.pack(">H", len(original)) + original + patched


REPORT = {
    "two_in_one_block": report_seed(counting(48), counting(48, [(3, 0xAA), (5, 0xBB)])),
    "trailing_byte": report_seed(counting(48), counting(48, [(2, 0xAA), (14, 0xCC)])),
    "gap4": report_seed(counting(48), counting(48, [(15, 0xAA), (20, 0xBB)])),
    "gap5": report_seed(counting(48), counting(48, [(10, 0xAA), (16, 0xBB)])),
    "several_blocks": report_seed(counting(48), counting(48, [(i, 0xEE) for i in range(10, 41)])),
    "short_last_block": report_seed(counting(20), counting(20, [(18, 0xAA)])),
    "width8_address": report_seed(counting(48), counting(48, [(40, 0x99)]), 8, 0x8000),
    "wrap": report_seed(counting(48), counting(48, [(1, 0xAA), (20, 0xBB)]), 16, 0xFFFFFFF0),
    "width1": report_seed(counting(48), counting(48, [(1, 0xAA), (3, 0xBB)]), 1),
    "width256_unequal": report_seed(counting(600, [(300, 1)]), counting(700, [(0, 0xAA), (599, 3)]), 256, 0, 3),
}

NUMBERS = ["16", "8x", "016", "4294967312", "2147483648", "1000", "0x1000", "0X1000",
           "xyz", "100000000", "-10", "-FFFFFFFF", "  \t7f", "+10", "0xg", "-0x1"]


def main():
    for name, cases in (("report", REPORT), ("numbers", {f"n{i}": s.encode() for i, s in enumerate(NUMBERS)})):
        folder = os.path.join(HERE, "corpus", name)
        os.makedirs(folder, exist_ok=True)
        for key, data in cases.items():
            with open(os.path.join(folder, key), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
