#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Speed of the Python module, measured in one process (run by hand, never by CI).

1. What the Python layer adds to a 32 x 32 tile read: image.read() and
   image.read_into() per call, less the same getTile call made from C++.
2. Whole-image reads with a conversion, flip, transpose or channel change,
   against the numpy expression that gives the same array (ratio eks / numpy,
   below 1 is faster).

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [repeats]

Figures are medians over `repeats` rounds (default 15), taking turns.
"""
import statistics
import sys
import time

import numpy as np

import eks

REPEATS = int(sys.argv[1]) if len(sys.argv) > 1 else 15


def per_call(fn, count):
    start = time.perf_counter()
    fn(count)
    return (time.perf_counter() - start) / count


def tile_overhead(tile=32, count=20000):
    a = np.random.default_rng(1).integers(0, 256, (1024, 1024, 3), dtype=np.uint8)
    image = eks.MemoryImage(a)
    positions = [(x, y) for y in range(0, 1024, tile) for x in range(0, 1024, tile)]
    out = np.empty((tile, tile, 3), np.uint8)

    def python_reads(n):
        for k in range(n):
            x, y = positions[k % len(positions)]
            image.read(x, y, tile, tile)

    def python_reads_into(n):
        for k in range(n):
            x, y = positions[k % len(positions)]
            image.read_into(out, x, y)

    cpp, py_read, py_into = [], [], []
    for _ in range(REPEATS):
        cpp.append(eks._cpp_tile_reads(image, tile, count) / count)
        py_read.append(per_call(python_reads, count))
        py_into.append(per_call(python_reads_into, count))
    c = statistics.median(cpp)
    print(f"{tile} x {tile} RGB uint8 tile read, per call (median of {REPEATS} rounds):")
    print(f"  C++ getTile              {c * 1e6:6.2f} us")
    for name, times in [("image.read()", py_read), ("image.read_into()", py_into)]:
        m = statistics.median(times)
        print(f"  Python {name:18s}{m * 1e6:6.2f} us   (+{(m - c) * 1e6:.2f} us over C++)")


def whole_image_reads(side=2048):
    a = np.random.default_rng(2).integers(0, 256, (side, side, 3), dtype=np.uint8)
    image = eks.MemoryImage(a)
    cases = [
        ("flip rows", lambda: image.read(space="lower_left"),
         lambda: np.ascontiguousarray(np.flip(a, 0))),
        ("uint8 -> float32", lambda: image.read(dtype=np.float32),
         lambda: a.astype(np.float32)),
        ("flip rows + float32", lambda: image.read(space="lower_left", dtype=np.float32),
         lambda: np.flip(a, 0).astype(np.float32)),
        ("mirror columns", lambda: image.read(space="upper_right"),
         lambda: np.ascontiguousarray(np.flip(a, 1))),
        ("transpose", lambda: image.read(space="left_upper"),
         lambda: np.ascontiguousarray(a.transpose(1, 0, 2))),
        ("RGB -> BGR", lambda: image.read(channels=[2, 1, 0]),
         lambda: np.ascontiguousarray(a[..., ::-1])),
        ("one channel as float64", lambda: image.read(channels=1, dtype=np.float64),
         lambda: a[..., 1].astype(np.float64)),
        ("interleaved -> planes", lambda: image.read(order="separate"),
         lambda: np.ascontiguousarray(np.moveaxis(a, 2, 0))),
    ]
    print(f"\nWhole {side} x {side} RGB uint8 image, eks read vs numpy expression "
          f"(median of {REPEATS} rounds):")
    print(f"  {'workload':24s} {'eks ms':>8s} {'numpy ms':>9s} {'ratio':>6s}")
    for name, ours, theirs in cases:
        assert np.array_equal(ours(), theirs()), name
        t_ours, t_theirs = [], []
        for _ in range(REPEATS):
            t_ours.append(per_call(lambda n: [ours() for _ in range(n)], 1))
            t_theirs.append(per_call(lambda n: [theirs() for _ in range(n)], 1))
        o, t = statistics.median(t_ours), statistics.median(t_theirs)
        print(f"  {name:24s} {o * 1e3:8.2f} {t * 1e3:9.2f} {o / t:6.2f}")


if __name__ == "__main__":
    tile_overhead()
    whole_image_reads()
