# SPDX-License-Identifier: Apache-2.0
# Images as arrays: indexing compared with numpy's own over randomized keys,
# natural blocks, and dask on top of them.
import numpy as np
import pytest

import eks
from conftest import needs_tiff, random_key, tiff_of


def test_indexing_matches_numpy(images, rng):
    for image, a in images:
        assert (image.shape, image.ndim, len(image), image.dtype) == (a.shape, a.ndim, len(a),
                                                                       a.dtype)
        for _ in range(200):
            key = random_key(rng, a.shape)
            got, want = image[key], a[key]
            assert type(got) is type(want) and np.shape(got) == np.shape(want), key
            np.testing.assert_array_equal(got, want)
        if image.order != "separate":  # whose buffer is (c, y, x)
            np.testing.assert_array_equal(np.asarray(image), a)


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


# Files written by another writer: tiles (height, width), slices and strips.
@needs_tiff
@pytest.mark.parametrize("shape, layout, chunks", [
    ((40, 50, 3), {"tile": (16, 32)}, (16, 32, 3)),
    ((40, 50), {"tile": (16, 16)}, (16, 16)),
    ((10, 12), {"tile": (16, 16)}, (10, 12)),
    ((3, 20, 30, 2), {"tile": (16, 16)}, (1, 16, 16, 2)),
    ((20, 30, 2), {"rowsperstrip": 8, "photometric": "minisblack"}, (8, 30, 2)),
])
def test_chunks_are_tiles_slices_or_strips(shape, layout, chunks, tmp_path, rng):
    tifffile = pytest.importorskip("tifffile")
    a = rng.integers(0, 255, shape, dtype=np.uint8)
    tifffile.imwrite(tmp_path / "c.tif", a, planarconfig="contig", **layout)
    image = eks.TiffImage(tmp_path / "c.tif")
    assert image.chunks == chunks and eks.MemoryImage(a).chunks == shape
    key = np.s_[1:, 3:17:2, ::-3][:a.ndim]
    np.testing.assert_array_equal(image[key], a[key])
    if len(shape) < 4:
        view = eks.SubImage(image, 1, 1, 8, 8)
        assert view.chunks == tuple(min(8, n) for n in chunks[:2]) + chunks[2:]


@needs_tiff
def test_dask_stores_chunks_that_share_tiles(tmp_path, rng):
    da = pytest.importorskip("dask.array")
    a = rng.integers(0, 65535, (70, 90, 3), dtype=np.uint16)
    image = tiff_of(a, tmp_path / "in.tif", tile=(32, 16))
    x = da.from_array(image, chunks=image.chunks)
    assert x.chunksize == (16, 32, 3)
    # Chunks that share tiles, each tile evicted between its writes.
    with eks.TiffImage.create(tmp_path / "shared.tif", a.shape, a.dtype, tile=(32, 16),
                              compression="deflate") as out:
        out.cache_bytes = 0
        da.store(x[::-1].rechunk((11, 13, 3)) + 1, out, lock=False, scheduler="threads")
    np.testing.assert_array_equal(np.asarray(eks.TiffImage(tmp_path / "shared.tif")), a[::-1] + 1)
