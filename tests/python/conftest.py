# SPDX-License-Identifier: Apache-2.0
# Shared helpers: every kind of image beside the numpy array it reads as, the
# coordinate spaces as numpy expressions, a random draw of numpy's indexing.
import numpy as np
import pytest

import eks

has_tiff = hasattr(eks, "TiffImage")
needs_tiff = pytest.mark.skipif(not has_tiff, reason="built without eks_tiff")

# Each coordinate space as the numpy expression that turns an upper-left array
# (..., y, x, c) into what a read in that space returns.
SPACES = {
    "upper_left": lambda a: a,
    "upper_right": lambda a: np.flip(a, -2),
    "lower_left": lambda a: np.flip(a, -3),
    "lower_right": lambda a: np.flip(a, (-3, -2)),
    "left_upper": lambda a: np.swapaxes(a, -3, -2),
    "right_upper": lambda a: np.flip(np.swapaxes(a, -3, -2), -3),
    "left_lower": lambda a: np.flip(np.swapaxes(a, -3, -2), -2),
    "right_lower": lambda a: np.flip(np.swapaxes(a, -3, -2), (-3, -2)),
}


@pytest.fixture
def rgb():
    """A 4 x 5 RGB uint8 array whose every element is distinct."""
    return np.arange(4 * 5 * 3, dtype=np.uint8).reshape(4, 5, 3)


@pytest.fixture
def rng():
    return np.random.default_rng(14)


def tiff_of(a, path, tile=(16, 16), compression="deflate"):
    """The array as a tiled TIFF file, opened for reading."""
    with eks.TiffImage.create(path, a.shape, a.dtype, tile=tile, compression=compression) as out:
        out.write(a)
    return eks.TiffImage(path)


def frozen(a):
    """A read-only array over an immutable bytes object holding a's elements."""
    return np.frombuffer(a.tobytes(), a.dtype).reshape(a.shape)


@pytest.fixture
def images(tmp_path, rng):
    """(image, the array it reads as in its own space, whether it takes writes)
    for every kind of image."""
    a2 = rng.integers(0, 128, (7, 9), dtype=np.uint8)
    a3 = rng.random((6, 7, 3), dtype=np.float32)
    a4 = rng.integers(-999, 999, (3, 5, 6, 2), dtype=np.int16)
    bits = rng.random((5, 6)) < 0.5
    bit_image = eks.MemoryImage(bits.shape, bool)
    bit_image.write(bits)
    flipped = eks.MemoryImage(a3.copy())  # its rows counted from the bottom
    flipped.coord_space, flipped.color_model = "lower_left", "hsv"
    writable = [
        (eks.MemoryImage(a2), a2), (eks.MemoryImage(a4), a4), (bit_image, bits), (flipped, a3),
        (eks.MemoryImage(np.moveaxis(a3, 2, 0).copy(), order="separate"), a3),
        (eks.SubImage(eks.MemoryImage(a3), 1, 2, 4, 3, channels=[2, 0]), a3[2:5, 1:5][..., [2, 0]]),
        (eks.SubImage(eks.SubImage(eks.MemoryImage(a3), 1, 1), 2, 0, channels=-1), a3[1:, 3:, 2]),
    ]
    frozen2 = eks.MemoryImage(frozen(a2[..., None]))
    read_only = [(frozen2, a2[..., None]), (eks.SubImage(frozen2, 2, 1), a2[1:, 2:, None]),
                 (eks.ConstantImage((1, 2), np.int32, shape=(2, 4, 5)),
                  np.tile(np.int32([1, 2]), (2, 4, 5, 1)))]
    if has_tiff:
        a = rng.integers(0, 65535, (40, 37, 3), dtype=np.uint16)
        tiff = tiff_of(a, tmp_path / "read.tif")
        read_only += [(tiff, a),
                      (eks.SubImage(tiff, 3, 2, 30, 30, channels=[1]), a[2:32, 3:33, [1]])]
    return [(i, a, True) for i, a in writable] + [(i, a, False) for i, a in read_only]


STEPS = [None, None, 1, 2, 3, -1, -2, 5]


def random_index(rng, n):
    if rng.random() < 0.3:
        return int(rng.integers(-n, n)) if rng.random() < 0.7 else np.int64(rng.integers(-n, n))
    bound = lambda: None if rng.random() < 0.3 else int(rng.integers(-n - 2, n + 3))
    return slice(bound(), bound(), STEPS[rng.integers(len(STEPS))])


def random_key(rng, shape):
    """A basic index of numpy: integers, slices, at most one ellipsis, None."""
    ndim = len(shape)
    k = int(rng.integers(0, ndim + 1))
    axes = list(range(k))
    if rng.random() < 0.3:  # an ellipsis standing for the axes between
        at = int(rng.integers(0, k + 1))
        axes = axes[:at] + [...] + list(range(ndim - (k - at), ndim))
    items = [... if a is ... else random_index(rng, shape[a]) for a in axes]
    if rng.random() < 0.2:
        items.insert(int(rng.integers(0, len(items) + 1)), None)
    return items[0] if len(items) == 1 and rng.random() < 0.5 else tuple(items)
