# SPDX-License-Identifier: Apache-2.0
# Page locking: a context manager handing out numpy views of locked pages.
import gc

import numpy as np
import pytest

import eks


def test_pages_hold_what_reads_give(images):
    for image, _ in images:
        if image.dtype == bool:
            with pytest.raises(TypeError, match="bit"):
                with image.lock():
                    pass
            continue
        try:  # pages are writeable where the image is
            image.write(image.read(0, 0, 1, 1))
            writeable = True
        except eks.NotAllowedError:
            writeable = False
        with image.lock(1, 1, 20, 20) as pages:
            assert pages
            for page in pages:
                shape = page.pixels.shape  # (y, x), (y, x, c), (c, y, x) or (z, y, x, c)
                flat = image.order == "separate" or len(shape) == 2
                height, width = shape[-2:] if flat else shape[-3:-1]
                want = image.read(page.x, page.y, width, height, z=page.z, order=image.order,
                                  depth=shape[0] if len(shape) == 4 else None)
                np.testing.assert_array_equal(page.pixels, want)
                assert page.pixels.flags.writeable == writeable
                if isinstance(image, eks.MemoryImage):  # its buffer itself
                    assert np.shares_memory(page.pixels, np.asarray(image))


def test_a_memory_image_locks_its_buffer_and_pages_outlive_it(rgb):
    image = eks.MemoryImage(rgb)
    with image.lock(1, 1, 2, 2) as pages:
        pages[0].pixels[3, 4] = (1, 2, 3)
    assert rgb[3, 4].tolist() == [1, 2, 3]
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
