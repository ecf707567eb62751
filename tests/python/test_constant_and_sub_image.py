# SPDX-License-Identifier: Apache-2.0
# ConstantImage and SubImage compared with numpy: a constant is numpy.full, a
# view is slicing and fancy indexing that writes through to its parent.
import numpy as np
import pytest

import eks


def test_a_constant_reads_its_value_everywhere():
    image = eks.ConstantImage((10, 20, 30), np.uint8, shape=(4, 5))
    assert image.shape == (4, 5, 3) and image.fill == (10, 20, 30)
    np.testing.assert_array_equal(image.read(), np.full((4, 5, 3), (10, 20, 30), np.uint8))
    # Never clipped: boxes outside the nominal size are the value too.
    np.testing.assert_array_equal(image.read(-3, 7, 2, 2, dtype=np.float32, channels=[2]),
                                  np.full((2, 2, 1), 30, np.float32))
    image.fill = (1, 2, 3)  # the fill is the value
    assert image.read(0, 0, 1, 1).tolist() == [[[1, 2, 3]]] and image.dtype == np.uint8


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


def test_a_view_keeps_its_parent_alive(rgb):
    view = eks.SubImage(eks.MemoryImage(rgb.copy()), 1, 1, 2, 2)
    np.testing.assert_array_equal(view.read(), rgb[1:3, 1:3])


def test_a_view_refuses_channels_its_parent_lacks(rgb):
    with pytest.raises(IndexError):
        eks.SubImage(eks.MemoryImage(rgb), channels=[3])
    with pytest.raises(ValueError, match="empty"):
        eks.SubImage(eks.MemoryImage(rgb), 9, 0)
