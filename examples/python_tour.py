#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Five everyday image tasks done with the eks module and with plain numpy.

Each task is one call of the library, which converts type, order, channels and
orientation in a single pass; the numpy expression beside it gives the same
array, which the script checks.

    PYTHONPATH=build/python /usr/bin/python3 examples/python_tour.py
"""
import numpy as np

import eks


def picture(height=480, width=640):
    """An RGB test picture: a red/green gradient with a blue diagonal band."""
    y, x = np.mgrid[0:height, 0:width]
    blue = np.where(np.abs(x - y) < 40, 255, 0)
    return np.stack([x * 255 // width, y * 255 // height, blue], axis=-1).astype(np.uint8)


def main():
    a = picture()
    image = eks.MemoryImage(a)  # wraps the array: no copy
    image.fill = (255, 0, 255)  # the value of pixels outside the picture

    tasks = [
        ("upside down, as float32",
         lambda: image.read(space="lower_left", dtype=np.float32),
         lambda: np.flip(a, 0).astype(np.float32)),
        ("RGB to BGR",
         lambda: image.read(channels=[2, 1, 0]),
         lambda: a[..., ::-1]),
        ("a box reaching past the top-left corner",
         lambda: image.read(-16, -16, 64, 64),
         lambda: outside_box(a, -16, -16, 64, 64, (255, 0, 255))),
        ("rotated 90 degrees counter-clockwise",
         lambda: image.read(space="right_upper"),
         lambda: np.rot90(a)),
        ("red and blue as separate uint16 planes",
         lambda: image.read(order="separate", channels=[0, 2], dtype=np.uint16),
         lambda: np.moveaxis(a[..., [0, 2]], 2, 0).astype(np.uint16)),
    ]
    for name, with_eks, with_numpy in tasks:
        ours, theirs = with_eks(), with_numpy()
        same = np.array_equal(ours, theirs) and ours.dtype == theirs.dtype
        print(f"{name:42s} {str(ours.shape):16s} {ours.dtype}: {'same' if same else 'DIFFERENT'}")
        assert same, name

    # Writing goes the same way: a patch stored upside down, through the image.
    patch = np.zeros((10, 20, 3), np.uint8)
    patch[0] = 255  # its first row white
    image.write(patch, 100, 50, space="lower_left")
    assert (a[480 - 50 - 1, 100:120] == 255).all()  # which lands as row 429 of the array
    print("a write in the lower-left space landed upside down in the array")


def outside_box(a, x, y, width, height, fill):
    """The box (x, y, width, height) of `a`, with `fill` where it leaves `a`."""
    out = np.empty((height, width, a.shape[2]), a.dtype)
    out[:] = fill
    top, left = max(y, 0), max(x, 0)
    bottom, right = min(y + height, a.shape[0]), min(x + width, a.shape[1])
    out[top - y:bottom - y, left - x:right - x] = a[top:bottom, left:right]
    return out


if __name__ == "__main__":
    main()
