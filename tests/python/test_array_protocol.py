# SPDX-License-Identifier: Apache-2.0
# Images as arrays: indexing compared with numpy's own over randomized keys,
# writes through keys, natural blocks, and dask on top of them.
import numpy as np
import pytest

import eks

has_tiff = hasattr(eks, "TiffImage")
STEPS = [None, None, 1, 2, 3, -1, -2, 5]


def random_index(rng, n):
    if rng.random() < 0.3:
        return int(rng.integers(-n, n))
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


def tiff_of(a, path, tile=(16, 16)):
    created = eks.TiffImage.create(path, a.shape, a.dtype, tile=tile, compression="deflate")
    created.write(a)
    created.close()
    return eks.TiffImage(path)


def images(tmp_path, rng):
    """(image, the array it reads as) for every kind of image."""
    a2 = rng.integers(0, 256, (7, 9), dtype=np.uint8)
    a3 = rng.random((6, 7, 3), dtype=np.float32)
    a4 = rng.integers(-999, 999, (3, 5, 6, 2), dtype=np.int16)
    bits = rng.random((5, 6)) < 0.5
    bit_image = eks.MemoryImage(bits.shape, bool)
    bit_image.write(bits)
    made = [(eks.MemoryImage(a2), a2), (eks.MemoryImage(a3), a3), (eks.MemoryImage(a4), a4),
            (bit_image, bits), (eks.SubImage(eks.MemoryImage(a3), 1, 2, 4, 3), a3[2:5, 1:5]),
            (eks.ConstantImage((1, 2), np.int32, shape=(4, 5)), np.tile(np.int32([1, 2]), (4, 5, 1)))]
    if has_tiff:
        a = rng.integers(0, 65535, (40, 37, 3), dtype=np.uint16)
        made.append((tiff_of(a, tmp_path / "read.tif"), a))
    return made


def test_indexing_matches_numpy(tmp_path, rng):
    for image, a in images(tmp_path, rng):
        assert (image.shape, image.ndim, len(image), image.dtype) == (a.shape, a.ndim, len(a),
                                                                       a.dtype)
        for _ in range(150):
            key = random_key(rng, a.shape)
            got, want = image[key], a[key]
            assert type(got) is type(want) and np.shape(got) == np.shape(want), key
            np.testing.assert_array_equal(got, want)
        np.testing.assert_array_equal(np.asarray(image), a)


def writable_images(tmp_path, rng):
    a = rng.integers(0, 60000, (20, 23, 3), dtype=np.uint16)
    parent = a.copy()
    made = [(lambda: eks.MemoryImage(a.copy()), lambda: a.copy()),
            (lambda: eks.SubImage(eks.MemoryImage(parent.copy()), 3, 2, 15, 12, channels=[2, 0]),
             lambda: parent[2:14, 3:18][..., [2, 0]].copy())]
    if has_tiff:
        def created():
            image = eks.TiffImage.create(tmp_path / "w.tif", a.shape, a.dtype, tile=(16, 16))
            image.write(a)
            return image
        made.append((created, lambda: a.copy()))
    return made


def test_writes_through_keys_match_numpy(tmp_path, rng):
    for make, expected in writable_images(tmp_path, rng):
        image, want = make(), expected()
        for _ in range(60):
            key = random_key(rng, want.shape)
            shape = np.shape(want[key])
            value = rng.integers(0, 60000, shape[rng.integers(0, len(shape) + 1):])
            image[key] = value
            want[key] = value
        np.testing.assert_array_equal(image.read(), want)
        if has_tiff and isinstance(image, eks.TiffImage):
            image.close()


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


def test_values_convert_and_broadcast_as_in_numpy(rgb):
    image, want = eks.MemoryImage(rgb.copy()), rgb.copy()
    for key, value in [((1, slice(None)), 2.7), ((slice(2, 4),), [1, 2, 3]),
                       ((..., 1), np.float64(-1.5))]:
        image[key] = want[key] = value
    np.testing.assert_array_equal(np.asarray(image), want)
    with pytest.raises(ValueError, match="broadcast"):
        image[:2] = np.zeros((3, 5, 3))


def read_only_images(tmp_path, rgb):
    made = [eks.ConstantImage(1, shape=(3, 3)),
            eks.MemoryImage(np.frombuffer(rgb.tobytes(), np.uint8).reshape(rgb.shape))]
    if has_tiff:
        made.append(tiff_of(rgb, tmp_path / "r.tif"))
    return made


def test_read_only_images_refuse_writes_through_keys(tmp_path, rgb):
    for image in read_only_images(tmp_path, rgb):
        with pytest.raises(eks.NotAllowedError):
            image[0, 0] = 1
        with pytest.raises(eks.NotAllowedError):
            image[0:0] = 1


def test_large_images_go_band_by_band(rng):
    huge = eks.ConstantImage(7, np.uint8, shape=(3, 60000, 50000))  # 9e9 pixels
    assert huge.shape == (3, 60000, 50000, 1) and huge.chunks == huge.shape
    assert huge[:, ::20000, ::25000, 0].tolist() == [[[7, 7]] * 3] * 3
    a = rng.random((9, 30000, 3))  # rows of 720 kB: bands of one to three rows
    image, want = eks.MemoryImage(a.copy()), a.copy()
    for key in [np.s_[::2, ::3], np.s_[::-1, 5:-5:7, ::-1], np.s_[1:8, 100:-100]]:
        np.testing.assert_array_equal(image[key], want[key])
        image[key] = want[key] = rng.random(want[key].shape)
    np.testing.assert_array_equal(np.asarray(image), want)


@pytest.mark.skipif(not has_tiff, reason="built without eks_tiff")
@pytest.mark.parametrize("shape, tile, chunks", [
    ((40, 50, 3), (32, 16), (16, 32, 3)),
    ((40, 50), (16, 16), (16, 16)),
    ((10, 12), (16, 16), (10, 12)),
])
def test_chunks_are_tiles(tmp_path, shape, tile, chunks):
    image = tiff_of(np.zeros(shape, np.uint8), tmp_path / "c.tif", tile=tile)
    assert image.chunks == chunks
    view = eks.SubImage(image, 1, 1, 8, 8)
    assert view.chunks == tuple(min(8, n) for n in chunks[:2]) + chunks[2:]
    assert eks.MemoryImage(np.zeros(shape, np.uint8)).chunks == shape


@pytest.mark.skipif(not has_tiff, reason="built without eks_tiff")
def test_chunks_of_strips_and_slices(tmp_path, rng):
    tifffile = pytest.importorskip("tifffile")
    slices = rng.integers(0, 255, (3, 20, 30, 2), dtype=np.uint8)
    tifffile.imwrite(tmp_path / "s.tif", slices, tile=(16, 16), planarconfig="contig")
    image = eks.TiffImage(tmp_path / "s.tif")
    assert image.chunks == (1, 16, 16, 2)
    np.testing.assert_array_equal(image[1:, 3:17:2, ::-3], slices[1:, 3:17:2, ::-3])
    tifffile.imwrite(tmp_path / "strips.tif", slices[0], rowsperstrip=8, photometric="minisblack",
                     planarconfig="contig")
    assert eks.TiffImage(tmp_path / "strips.tif").chunks == (8, 30, 2)


@pytest.mark.skipif(not has_tiff, reason="built without eks_tiff")
def test_dask_reads_and_stores_tiffs(tmp_path, rng):
    da = pytest.importorskip("dask.array")
    a = rng.integers(0, 65535, (70, 90, 3), dtype=np.uint16)
    image = tiff_of(a, tmp_path / "in.tif", tile=(32, 16))
    x = da.from_array(image, chunks=image.chunks)
    assert x.chunksize == (16, 32, 3)
    np.testing.assert_allclose(x.mean(axis=(0, 1)).compute(scheduler="threads"),
                               a.mean(axis=(0, 1)))
    with eks.TiffImage.create(tmp_path / "out.tif", a.shape, a.dtype, tile=(32, 16)) as out:
        da.store(x[::-1] // 2, out, lock=False, scheduler="threads")
    np.testing.assert_array_equal(np.asarray(eks.TiffImage(tmp_path / "out.tif")), a[::-1] // 2)
    # Chunks that share tiles, each tile evicted between its writes.
    with eks.TiffImage.create(tmp_path / "shared.tif", a.shape, a.dtype, tile=(32, 16),
                              compression="deflate") as out:
        out.cache_bytes = 0
        da.store(x.rechunk((11, 13, 3)) + 1, out, lock=False, scheduler="threads")
    np.testing.assert_array_equal(np.asarray(eks.TiffImage(tmp_path / "shared.tif")), a + 1)
