# SPDX-License-Identifier: Apache-2.0
# Every kind of image, and its pickle, compared with numpy over random keys,
# boxes, spaces, channels, types and orders, and random writes of every kind
# (refused by read-only images); page locks; refused arguments.
import gc
import pickle

import numpy as np
import pytest

import eks
from conftest import SPACES, frozen, has_tiff, random_key

DTYPES = [np.bool_, np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32,
          np.float64]
ORDERS = [None, "interleaved", "sequential", "separate"]


def exact_types(values):
    """The types that hold every one of the values exactly."""
    values = np.asarray(values, np.float64)
    with np.errstate(invalid="ignore", over="ignore"):
        return [t for t in DTYPES if np.array_equal(values.astype(t).astype(np.float64), values)]


def random_extents(rng, sizes):
    """(origin, extent given or None, extent meant) for each of x, y, z, the
    boxes reaching up to 3 pixels past any edge."""
    drawn = []
    for n in sizes:
        origin = int(rng.integers(-3, n + 2))
        given = None if rng.random() < 0.3 else int(rng.integers(0, n + 4 - origin))
        drawn.append((origin, given, max(0, n - origin) if given is None else given))
    return drawn


def expected_read(image, a, space, extents, channels):
    """The box of the image in the space amid its fill, as (z, y, x, c)."""
    s = image.size
    t = SPACES[space](SPACES[image.coord_space](a.reshape(s.z, s.y, s.x, s.c)))
    padded = np.empty(tuple(n + 8 for n in t.shape[:3]) + (s.c,), a.dtype)
    padded[:] = image.fill
    padded[4:-4, 4:-4, 4:-4] = t
    (x, _, w), (y, _, h), (z, _, d) = extents
    box = padded[4 + z:4 + z + d, 4 + y:4 + y + h, 4 + x:4 + x + w]
    return box if channels is None else box[..., channels]


def test_indexing_and_reads_match_numpy(images, rng):
    for image, a, _ in images:
        assert (image.shape, image.ndim, len(image), image.dtype) == (a.shape, a.ndim, len(a),
                                                                       a.dtype)
        for _ in range(200):
            key = random_key(rng, a.shape)
            got, want = image[key], a[key]
            assert type(got) is type(want) and np.shape(got) == np.shape(want), key
            np.testing.assert_array_equal(got, want)
        if image.order != "separate":  # whose buffer is (c, y, x)
            np.testing.assert_array_equal(np.asarray(image), a)
        image.fill = [rng.choice(a.reshape(-1, image.size.c)[:, c]) for c in range(image.size.c)]
        if isinstance(image, eks.ConstantImage):  # its fill is its value
            a = np.broadcast_to(np.asarray(image.fill, a.dtype), a.shape)
        types, (nx, ny, nz, n) = exact_types(np.append(a, image.fill)), image.size
        copy = pickle.loads(pickle.dumps(image))  # the same image again: reads of either
        assert repr(copy) == repr(image) and copy.color_model == image.color_model
        assert copy.__dask_tokenize__() == image.__dask_tokenize__()
        for _ in range(60):
            space = rng.choice(list(SPACES))
            s = SPACES[space](np.empty((nz, ny, nx, 1))).shape
            (x, width, w), (y, height, h), (z, depth, d) = extents = random_extents(
                rng, s[2::-1])
            if depth is None and d < 1:  # past the last slice: that slice, all fill
                d, extents[2] = 1, (z, None, 1)
            channels = [None, int(rng.integers(-n, n)),
                        list(rng.integers(-n, n, rng.integers(1, 4)))][rng.integers(3)]
            dtype, order = rng.choice(types), rng.choice(ORDERS)
            want = expected_read(image, a, space, extents, channels).astype(dtype)
            # The array's axes: z unless one slice of an image of fewer axes, c
            # unless an integer picks it or one channel of an image of two axes.
            several = want.ndim == 4 and want.shape[3] > 1
            rank = 4 if d != 1 else 3 if several and image.ndim < 3 else image.ndim
            if rank < 4:
                want = want[0] if rank == 3 or want.ndim == 3 else want[0, ..., 0]
            if rank >= 3 and want.ndim == rank and order in ("separate", "sequential"):
                want = np.moveaxis(want, -1, 0 if order == "separate" else -2)
            source, other = [(image, copy), (copy, image)][rng.integers(2)]
            got = source.read(x, y, width, height, z=z, depth=depth, dtype=dtype, order=order,
                              channels=channels, space=space)
            assert got.dtype == want.dtype
            np.testing.assert_array_equal(got, want)
            if isinstance(channels, int) and got.ndim > 2:
                continue  # an array without a channel axis reads as channels
            into = np.empty_like(got)
            other.read_into(into, x, y, z=z, order=order, channels=channels, space=space)
            np.testing.assert_array_equal(into, want)


def test_large_reads_and_writes_go_band_by_band(rng):
    huge = eks.ConstantImage(7, np.uint8, shape=(3, 60000, 50000))  # 9e9 pixels
    assert huge.shape == (3, 60000, 50000, 1) and huge.chunks == huge.shape
    assert huge[:, ::20000, ::25000, 0].tolist() == [[[7, 7]] * 3] * 3
    a = rng.random((9, 30000, 3))  # rows of 720 kB: bands of one to three rows
    image, want = eks.MemoryImage(a.copy()), a.copy()
    image.fill = (1, 2, 3)
    got = image.read(-2, -3, 13, 30006, dtype=np.float32, space="left_upper")
    np.testing.assert_array_equal(got[3:-3, 2:-2], SPACES["left_upper"](a).astype(np.float32))
    assert (got[:3] == (1, 2, 3)).all() and (got[:, -2:] == (1, 2, 3)).all()
    for space in ["lower_left", "right_lower"]:
        np.testing.assert_array_equal(image.read(space=space), SPACES[space](a))
    for key in [np.s_[::2, ::3], np.s_[::-1, 5:-5:7, ::-1], np.s_[1:8, 100:-100]]:
        np.testing.assert_array_equal(image[key], want[key])
        image[key] = want[key] = rng.random(want[key].shape)
    np.testing.assert_array_equal(np.asarray(image), want)


def assign_clipped(dst, patch, x, y):
    """dst[y:, x:] = patch, dropping what falls outside dst."""
    top, left = max(y, 0), max(x, 0)
    bottom, right = min(y + patch.shape[0], dst.shape[0]), min(x + patch.shape[1], dst.shape[1])
    if top < bottom and left < right:
        dst[top:bottom, left:right] = patch[top - y:bottom - y, left - x:right - x]


def writable(tmp_path, rng):
    """(image, its pixels as they are now, the part of them it shows, the
    channels it shows) for images that can be written."""
    a = rng.integers(0, 60000, (20, 23, 3), dtype=np.uint16)
    p = [a.copy() for _ in range(4)]
    flipped = eks.MemoryImage(p[1])
    flipped.coord_space = "lower_left"
    made = [(eks.MemoryImage(p[0]), lambda: p[0], lambda e: e, None),
            (flipped, lambda: p[1], lambda e: e, None),
            (eks.SubImage(eks.MemoryImage(p[2]), 3, 2, 15, 12, channels=[2, 0]), lambda: p[2],
             lambda e: e[2:14, 3:18], [2, 0]),
            # A view of a view reaching past its parent's window.
            (eks.SubImage(eks.SubImage(eks.MemoryImage(p[3]), 2, 1, 14, 15), 6, 7, 12, 12),
             lambda: p[3], lambda e: e[1:16, 2:16][7:19, 6:18], None)]
    if has_tiff:
        tiff = eks.TiffImage.create(tmp_path / "w.tif", a.shape, a.dtype, tile=(16, 16))
        tiff.write(a)
        made.append((tiff, tiff.read, lambda e: e, None))
    return made


def random_write(image, rng, scratch):
    """Writes random values into a random box of the image by a key, write(),
    copy_to() or fill() (a memory image's), and the same values into scratch,
    its own-space twin."""
    kind, n = rng.integers(4 if isinstance(image, eks.MemoryImage) else 3), image.size.c
    space = rng.choice(list(SPACES)) if rng.random() < 0.7 else None
    channels = list(rng.permutation(n)[:rng.integers(1, n + 1)]) if rng.random() < 0.5 else None
    if kind == 0:
        key = random_key(rng, scratch.shape)
        shape = np.shape(scratch[key])
        value = rng.integers(0, 60000, shape[rng.integers(0, len(shape) + 1):])
        # Converted and broadcast as numpy would: floats cut, lists and scalars
        # (an empty list would lose its axes).
        value = [value, value + 0.7, value.tolist() if value.size else value][rng.integers(3)]
        image[key] = value
        scratch[key] = value
        return
    x, y, w, h = (int(v) for v in rng.integers([-4, -4, 1, 1], [22, 22, 9, 9]))
    patch = rng.integers(0, 60000, (h, w, len(channels or range(n))))
    if kind == 1:
        patch = patch.astype(rng.choice([np.uint16, np.int32, np.float64]))
        image.write(patch, x, y, space=space, channels=channels)
    elif kind == 2:  # copies work in the source's space, here upper-left
        sx, sy = (int(v) for v in rng.integers(0, 3, 2))
        source = np.zeros((h + sy, w + sx, patch.shape[2]), np.uint16)
        source[sy:, sx:] = patch
        source, space = eks.MemoryImage(source), "upper_left"
        if isinstance(image, eks.MemoryImage) and rng.random() < 0.3:
            # A constant fills the box, wherever it lies in the constant, in the
            # target's own space unless channels are listed.
            patch[:] = patch[0, 0]
            source, sx = eks.ConstantImage(patch[0, 0], np.uint16), sx - 9
            space = space if channels else None
        source.copy_to(image, sx, sy, w, h, to_x=x, to_y=y, channels=channels)
    else:
        values = rng.integers(0, 60000, rng.choice([1, patch.shape[2]]))
        patch[:] = values
        image.fill(values.tolist() if len(values) > 1 else int(values[0]), x, y, w, h,
                   channels=channels, space=space)
    own = SPACES[image.coord_space]
    view = SPACES[space or image.coord_space](own(scratch))
    for k, c in enumerate(channels or range(n)):
        assign_clipped(view[..., c], patch[..., k], x, y)


def test_writes_match_numpy(tmp_path, rng, images):
    for image, pixels, window, channels in writable(tmp_path, rng):
        expected = pixels().copy()
        for _ in range(60):
            scratch = np.full(image.shape, -1, np.int32)
            random_write(image, rng, scratch)
            shown = window(expected)
            part = shown if channels is None else shown[..., channels]
            crop = scratch[:part.shape[0], :part.shape[1]]
            part[crop >= 0] = crop[crop >= 0]
            if channels is not None:
                shown[..., channels] = part
            np.testing.assert_array_equal(pixels(), expected)
        if has_tiff and isinstance(image, eks.TiffImage):
            image.close()
    for image, _, writeable in images:  # read-only ones and their pickles refuse every write
        for _ in range(0 if writeable else 30):
            target = [image, pickle.loads(pickle.dumps(image))][rng.integers(2)]
            with pytest.raises(eks.NotAllowedError):
                random_write(target, rng, np.full(image.shape, -1, np.int32))


def test_pages_hold_what_reads_give(images):
    for image, _, writeable in images:
        if image.dtype == bool:
            with pytest.raises(TypeError, match="bit"):
                image.lock().pages
            continue
        with image.lock(1, 1, 20, 20) as pages:
            assert pages
            for page in pages:
                shape = page.pixels.shape  # (y, x), (y, x, c), (c, y, x) or (z, y, x, c)
                flat = image.order == "separate" or len(shape) == 2
                height, width = shape[-2:] if flat else shape[-3:-1]
                want = image.read(page.x, page.y, width, height, z=page.z, order=image.order,
                                  depth=shape[0] if len(shape) == 4 else None)
                np.testing.assert_array_equal(page.pixels, want)
                assert page.pixels.flags.writeable == writeable  # as the image is
                if isinstance(image, eks.MemoryImage):  # its buffer itself
                    assert np.shares_memory(page.pixels, np.asarray(image))
                    assert np.asarray(image).flags.writeable == writeable
    constant = eks.ConstantImage(1, np.uint8, shape=(300, 400))  # of pages of 128 x 128
    constant.coord_space = "upper_right"  # a box in another space locks the pages it covers
    assert [page.x for page in constant.lock(0, 0, 1, 1, space="upper_left").pages] == [384]


def test_memory_images_wrap_arrays_pages_outlive_and_bits_convert(rgb):
    image = eks.MemoryImage(rgb)  # pages are its buffer: test_pages_hold_what_reads_give
    with pytest.raises(KeyError):  # leaving the block lets exceptions through
        with image.lock():
            raise KeyError
    assert image.lock(10, 10, 2, 2).pages == []  # boxes outside lock nothing
    with eks.MemoryImage(rgb.copy()).lock() as pages:
        pixels = pages[0].pixels
    gc.collect()
    np.testing.assert_array_equal(pixels, rgb)
    tile = image.lock()
    image.fill = 1  # the image resets: its page record goes, its pixels stay
    image.read()
    np.testing.assert_array_equal(tile.pages[0].pixels, rgb)
    owned = eks.MemoryImage((2, 3, 4), np.int32, order="separate")  # starts at zero
    assert owned.shape == (3, 4, 2) and not np.asarray(owned).any()
    image = eks.MemoryImage(rgb)  # its token follows its pixels
    before = image.__dask_tokenize__()
    assert eks.MemoryImage(rgb.copy()).__dask_tokenize__() == before
    rgb[3, 4] += 1
    assert image.__dask_tokenize__() != before
    # Into bool, other types keep the library's rule: 1 when the low 8 bits are not 0.
    got = eks.MemoryImage(np.array([[2, 0, 1, 256, 511]], np.uint16)).read(dtype=bool)
    assert got.view(np.uint8).tolist() == [[1, 0, 1, 0, 1]]
    bits = eks.MemoryImage((1, 5), bool)
    bits.write(np.array([[2, 0, 1, 0, 255]], np.uint8).view(bool))
    assert bits.read().view(np.uint8).tolist() == [[1, 0, 1, 0, 1]]


@pytest.mark.parametrize("key, error", [
    ((5,), IndexError), ((-6, 0), IndexError), ((0, 0, 0, 0), IndexError),
    ((..., ...), IndexError), (1.5, IndexError), (True, IndexError), ([0, 1], IndexError),
    (slice(None, None, 0), ValueError), (slice(0.5, 2), TypeError),
])
def test_bad_keys_raise_as_in_numpy(key, error, rgb):
    image = eks.MemoryImage(rgb)
    with pytest.raises(error):
        image[key]
    with pytest.raises(error):
        image[key] = 1


@pytest.mark.parametrize("call, error, match", [
    (lambda im, a: im.__setitem__(slice(0, 2), np.zeros((3, 5, 3))), ValueError, "broadcast"),
    (lambda im, a: eks.MemoryImage(a[:, ::2]), ValueError, "C-contiguous"),
    (lambda im, a: eks.MemoryImage(a[:0]), ValueError, "empty"),
    (lambda im, a: im.write(a[::2]), ValueError, "C-contiguous"),
    (lambda im, a: im.read_into(frozen(a)), ValueError, "writeable"),
    (lambda im, a: im.read(dtype=np.float16), TypeError, "float16"),
    (lambda im, a: im.write(np.zeros((2, 2), np.uint8)), ValueError, "channels"),
    (lambda im, a: im.write(np.zeros((1, 1, 1, 1, 3), np.uint8)), ValueError, "shape"),
    (lambda im, a: eks.MemoryImage(frozen(a)).__setitem__(slice(0, 0), 1), eks.NotAllowedError,
     "read-only"),  # also what touches nothing: an empty box, or one outside a view
    (lambda im, a: eks.MemoryImage(frozen(a)).fill(1, 0, 0, 0, 0), eks.NotAllowedError, "read-only"),
    (lambda im, a: im.copy_to(eks.SubImage(eks.MemoryImage(frozen(a)), 1, 1), to_x=99),
     eks.NotAllowedError, "read-only"),
    (lambda im, a: im.read(channels=[3]), IndexError, "out of range"),
    (lambda im, a: im.read(space="upside_down"), ValueError, "coordinate space"),
    (lambda im, a: im.read(width=-1), ValueError, "negative"),
    (lambda im, a: (im.read(x=-2**31, width=1), im.read(x=2**31, width=1)), ValueError,
     "x 2147483648 is outside the 32-bit"),  # the first is the fill: the range's low end
    (lambda im, a: im.fill((1, 2)), ValueError, "fill"),
    (lambda im, a: setattr(im, "fill", (1, 2, 3, 4, 5)), ValueError, "fill"),
    (lambda im, a: eks.MemoryImage(a > 0), TypeError, "bool"),
    (lambda im, a: setattr(im, "size", (2, 2)), eks.NotAllowedError, "keeps its"),
    (lambda im, a: setattr(im, "dtype", np.float32), eks.NotAllowedError, "keeps its"),
    (lambda im, a: setattr(im, "order", "separate"), eks.NotAllowedError, "keeps its"),
    (lambda im, a: memoryview(eks.MemoryImage((3, 3), bool)), BufferError, "pack"),
    (lambda im, a: eks.ConstantImage(1.5).fill(1), eks.NotImplementedError, ""),
    (lambda im, a: eks.ConstantImage(1, shape=(1, 2, 3, 4)), ValueError, "shape"),
    (lambda im, a: eks.SubImage(im, channels=[3]), IndexError, ""),
    (lambda im, a: eks.SubImage(im, 9, 0), ValueError, "empty"),
])
def test_refused_arrays_and_arguments(call, error, match, rgb):
    with pytest.raises(error, match=match):
        call(eks.MemoryImage(rgb), rgb)


def test_statuses_become_exceptions(rgb):
    image = eks.MemoryImage(rgb)
    with pytest.raises(eks.BadColorModelError, match="ekBadColorModel") as caught:
        image.color_model = "cmyk"  # four channels on a three-channel image
    assert (caught.value.status, caught.value.name) == (19, "ekBadColorModel")
    with pytest.raises(eks.BadColorModelError):
        image.read()  # the failure stays with the image until it is cleared
    image.clear_status()
    image.color_model = "rgb"
    np.testing.assert_array_equal(image.read(), rgb)
    assert issubclass(eks.BadColorModelError, eks.Error)
    assert issubclass(eks.NotImplementedError, NotImplementedError)
    assert issubclass(eks.NoMemoryError, MemoryError)
