#!/usr/bin/env python3
"""Compares two pictures channel by channel, alpha left out (the host shows
a 32-bit picture's colour channels): exits 0 when they have the same size
and no red, green or blue value differs by more than TOLERANCE levels of 8
bits, 1 otherwise, naming the largest difference.

    compare-pictures.py ACTUAL EXPECTED TOLERANCE
"""
import subprocess
import sys


def pixels(path):
    size = subprocess.run(["identify", "-format", "%w %h", path + "[0]"], check=True,
                          capture_output=True, text=True).stdout.split()
    raw = subprocess.run(["convert", path + "[0]", "-alpha", "off", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    return int(size[0]), int(size[1]), raw


def main():
    actual, expected, tolerance = sys.argv[1], sys.argv[2], int(sys.argv[3])
    aw, ah, a = pixels(actual)
    ew, eh, e = pixels(expected)
    if (aw, ah) != (ew, eh):
        print(f"compare: {actual} is {aw}x{ah}, {expected} is {ew}x{eh}")
        return 1
    if len(a) != len(e) or len(a) != aw * ah * 3:
        print(f"compare: unexpected pixel data sizes {len(a)} and {len(e)}")
        return 1
    worst, at = 0, 0
    for i, (x, y) in enumerate(zip(a, e)):
        d = abs(x - y)
        if d > worst:
            worst, at = d, i
    pixel = at // 3
    print(f"compare: {aw}x{ah}, largest difference {worst} at {pixel % aw},{pixel // aw}")
    return 0 if worst <= tolerance else 1


if __name__ == "__main__":
    sys.exit(main())
