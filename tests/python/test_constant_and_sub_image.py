# SPDX-License-Identifier: Apache-2.0
# ConstantImage and SubImage compared with numpy: a constant is numpy.full, a
# view is slicing and fancy indexing that writes through to its parent.
import numpy as np
import pytest

import eks
from test_memory_image import SPACES


def test_a_constant_reads_its_value_everywhere():
    image = eks.ConstantImage((10, 20, 30), np.uint8, shape=(4, 5))
    assert image.shape == (4, 5, 3) and image.fill == (10, 20, 30)
    np.testing.assert_array_equal(image.read(), np.full((4, 5, 3), (10, 20, 30), np.uint8))
    # Never clipped: boxes outside the nominal size are the value too.
    np.testing.assert_array_equal(image.read(-3, 7, 2, 2, dtype=np.float32, channels=[2]),
                                  np.full((2, 2, 1), 30, np.float32))
    image.fill = (1, 2, 3)  # the fill is the value
    assert image.read(0, 0, 1, 1).tolist() == [[[1, 2, 3]]] and image.dtype == np.uint8
    np.testing.assert_array_equal(np.asarray(image), image.read())  # as for every image


def test_a_constant_is_read_only_and_fills_what_it_is_copied_to():
    image = eks.ConstantImage(7.5, np.float32)
    with pytest.raises(eks.NotAllowedError):
        image.write(np.zeros((1, 1), np.float32))
    with pytest.raises(eks.NotImplementedError):
        image.fill(1)
    target = eks.MemoryImage(np.zeros((3, 4), np.float32))
    image.copy_to(target, 0, 0, 2, 2, to_x=1, to_y=1)
    expected = np.zeros((3, 4), np.float32)
    expected[1:3, 1:3] = 7.5
    np.testing.assert_array_equal(np.asarray(target), expected)


def test_a_view_is_a_slice_with_fancy_channels(rgb):
    view = eks.SubImage(eks.MemoryImage(rgb), 1, 1, 3, 2, channels=[2, 0])
    assert view.size == eks.Size(3, 2, 1, 2)
    np.testing.assert_array_equal(view.read(), rgb[1:3, 1:4][..., [2, 0]])
    np.testing.assert_array_equal(view.read(space="lower_left"),
                                  np.flip(rgb[1:3, 1:4][..., [2, 0]], 0))
    rest = eks.SubImage(eks.MemoryImage(rgb), 2, 1)  # up to the parent's far edge
    np.testing.assert_array_equal(rest.read(), rgb[1:, 2:])
    one = eks.SubImage(eks.MemoryImage(rgb), 0, 0, 2, 2, channels=1)
    np.testing.assert_array_equal(one.read(), rgb[:2, :2, 1])


def test_a_view_reads_its_fill_outside_and_writes_through(rgb):
    parent = eks.MemoryImage(rgb)
    view = eks.SubImage(parent, 1, 1, 3, 2)
    view.fill = (9, 9, 9)
    got = view.read(-1, -1, 5, 4)
    expected = np.full((4, 5, 3), 9, np.uint8)
    expected[1:3, 1:4] = rgb[1:3, 1:4]
    np.testing.assert_array_equal(got, expected)
    patch = np.full((2, 3, 3), 200, np.uint8)
    view.write(patch)
    assert (rgb[1:3, 1:4] == 200).all() and rgb[0, 0, 0] == 0


def assign_clipped(dst, patch, x, y):
    """dst[y:, x:] = patch, dropping what falls outside dst."""
    top, left = max(y, 0), max(x, 0)
    bottom, right = min(y + patch.shape[0], dst.shape[0]), min(x + patch.shape[1], dst.shape[1])
    if top < bottom and left < right:
        dst[top:bottom, left:right] = patch[top - y:bottom - y, left - x:right - x]


# Writes and copies into a view compared with numpy: assignment into the
# window, which numpy's slicing of slices clips to every enclosing window; the
# rest of the patch is dropped. A view of a view reaches past its parent's window.
@pytest.mark.parametrize("space", ["upper_left", "lower_left", "right_upper"])
@pytest.mark.parametrize("windows", [[(2, 1, 4, 5)], [(2, 1, 4, 5), (1, 2, 6, 6)]])
def test_a_view_writes_inside_its_window_only(space, windows, rng):
    parent = np.zeros((8, 9), np.int16)
    view, expected = eks.MemoryImage(parent), parent.copy()
    region = expected
    for x, y, width, height in windows:
        view = eks.SubImage(view, x, y, width, height)
        region = region[y:y + height, x:x + width]
    for k in range(16):
        patch = rng.integers(1, 1000, rng.integers(1, 9, 2), dtype=np.int16)
        x, y = (int(v) for v in rng.integers(-4, 8, 2))
        scratch = np.full(view.shape, -1, np.int16)  # the innermost view's pixels
        if k % 2:
            view.write(patch, x, y, space=space)
            assign_clipped(SPACES[space](scratch[..., None])[..., 0], patch, x, y)
        else:  # copies work in the source's space, here upper-left
            eks.MemoryImage(patch).copy_to(view, to_x=x, to_y=y)
            assign_clipped(scratch, patch, x, y)
        scratch = scratch[:region.shape[0], :region.shape[1]]
        region[scratch >= 0] = scratch[scratch >= 0]
        np.testing.assert_array_equal(parent, expected)


def test_a_view_keeps_its_parent_alive(rgb):
    view = eks.SubImage(eks.MemoryImage(rgb.copy()), 1, 1, 2, 2)
    np.testing.assert_array_equal(view.read(), rgb[1:3, 1:3])


def test_a_view_refuses_channels_its_parent_lacks(rgb):
    with pytest.raises(IndexError):
        eks.SubImage(eks.MemoryImage(rgb), channels=[3])
    with pytest.raises(ValueError, match="empty"):
        eks.SubImage(eks.MemoryImage(rgb), 9, 0)
