# SPDX-License-Identifier: Apache-2.0
# Page locking: a context manager handing out numpy views of locked pages.
import gc

import numpy as np
import pytest

import eks


def test_a_memory_image_locks_its_buffer(rgb):
    image = eks.MemoryImage(rgb)
    with image.lock(1, 1, 2, 2) as pages:
        assert [(p.x, p.y, p.z, p.c) for p in pages] == [(0, 0, 0, 0)]
        pixels = pages[0].pixels
        assert np.shares_memory(pixels, rgb) and pixels.shape == rgb.shape
        pixels[3, 4] = (1, 2, 3)
    assert rgb[3, 4].tolist() == [1, 2, 3]
    with pytest.raises(KeyError):  # leaving the block lets exceptions through
        with image.lock():
            raise KeyError


def test_pages_stay_valid_while_their_arrays_live(rng):
    a = rng.integers(0, 1000, (6, 7), dtype=np.int32)
    with eks.MemoryImage(a).lock() as pages:
        pixels = pages[0].pixels
    gc.collect()
    np.testing.assert_array_equal(pixels, a)


def test_pages_outlive_changes_of_the_image(rng):
    a = rng.random((4, 4), dtype=np.float32)
    image = eks.MemoryImage(a)
    tile = image.lock()
    image.fill = 1  # the image resets: its page record goes, its pixels stay
    image.read()
    np.testing.assert_array_equal(tile.pages[0].pixels, a)


def over_bytes(a):
    """An image over an immutable bytes object holding a's elements."""
    return eks.MemoryImage(np.frombuffer(a.tobytes(), a.dtype).reshape(a.shape))


@pytest.mark.parametrize("make, writeable", [
    (eks.MemoryImage, True),
    (over_bytes, False),
    (lambda a: eks.SubImage(over_bytes(a), 1, 1), False),
    (lambda a: eks.ConstantImage(7, np.uint8, shape=(3, 4)), False),
])
def test_pages_are_read_only_where_the_image_is(make, writeable, rgb):
    with make(rgb).lock() as pages:
        assert pages[0].pixels.flags.writeable == writeable


def test_boxes_outside_lock_nothing_and_bits_have_no_view(rgb):
    assert eks.MemoryImage(rgb).lock(10, 10, 2, 2).pages == []
    with pytest.raises(TypeError, match="bit"):
        with eks.MemoryImage((3, 3), bool).lock():
            pass


def test_other_images_lock_copies_of_their_pages(rgb):
    view = eks.SubImage(eks.MemoryImage(rgb), 1, 1, 3, 2)
    with view.lock() as pages:
        (page,) = pages
        height, width = page.pixels.shape[:2]
        np.testing.assert_array_equal(page.pixels, view.read(0, 0, width, height))
        assert not np.shares_memory(page.pixels, rgb)
    with eks.ConstantImage((1, 2), np.float32, shape=(3, 4)).lock() as pages:
        assert (pages[0].pixels == (1, 2)).all()
