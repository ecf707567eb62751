# SPDX-License-Identifier: Apache-2.0
# MemoryImage over numpy arrays: zero-copy wrapping, reads in every layout
# compared with the numpy expression that gives the same array, writes, fills
# and copies.
import threading

import numpy as np
import pytest

import eks

# Each coordinate space as the numpy expression that turns an upper-left
# array (y, x, c) into what a read in that space returns.
SPACES = {
    "upper_left": lambda a: a,
    "upper_right": lambda a: np.flip(a, 1),
    "lower_left": lambda a: np.flip(a, 0),
    "lower_right": lambda a: np.flip(a, (0, 1)),
    "left_upper": lambda a: a.transpose(1, 0, 2),
    "right_upper": lambda a: np.flip(a.transpose(1, 0, 2), 0),
    "left_lower": lambda a: np.flip(a.transpose(1, 0, 2), 1),
    "right_lower": lambda a: np.flip(a.transpose(1, 0, 2), (0, 1)),
}


def test_wrapping_shares_the_array(rgb):
    image = eks.MemoryImage(rgb)
    rgb[1, 2] = (7, 8, 9)  # through the array, seen by the image
    assert image.read(2, 1, 1, 1).tolist() == [[[7, 8, 9]]]
    image.write(np.full((1, 1, 3), 200, np.uint8), 4, 3)  # and the other way
    assert rgb[3, 4].tolist() == [200, 200, 200]
    view = np.asarray(image)
    assert np.shares_memory(view, rgb) and view.shape == rgb.shape


@pytest.mark.parametrize("space", ["upper_left", "lower_left", "left_upper", "right_lower"])
def test_a_large_read_equals_one_read_into(space):
    # read() moves a large box in bands of rows; read_into() in one call.
    a = np.random.default_rng(5).integers(0, 256, (300, 500, 3), dtype=np.uint8)
    image = eks.MemoryImage(a)
    image.fill = (1, 2, 3)
    got = image.read(-5, -7, 520, 520, dtype=np.float64, space=space)
    want = np.empty_like(got)
    image.read_into(want, -5, -7, space=space)
    np.testing.assert_array_equal(got, want)
    inside = SPACES[space](a).astype(np.float64)
    np.testing.assert_array_equal(got[7:7 + inside.shape[0], 5:5 + inside.shape[1]], inside)


def test_a_read_only_array_gives_a_read_only_image(rgb):
    rgb.flags.writeable = False
    image = eks.MemoryImage(rgb)
    np.testing.assert_array_equal(image.read(space="lower_left"), np.flip(rgb, 0))
    with pytest.raises(eks.NotAllowedError):
        image.write(np.zeros((1, 1, 3), np.uint8))
    assert not np.asarray(image).flags.writeable


def test_the_image_keeps_its_array_alive():
    image = eks.MemoryImage(np.arange(6, dtype=np.int16).reshape(2, 3))
    assert image.read().tolist() == [[0, 1, 2], [3, 4, 5]]


@pytest.mark.parametrize("shape", [(4, 5), (4, 5, 1), (4, 5, 3), (2, 4, 5, 2)])
def test_whole_reads_have_the_array_shape(shape, rng):
    a = rng.integers(0, 60000, shape, dtype=np.uint16)
    image = eks.MemoryImage(a)
    assert image.shape == shape
    np.testing.assert_array_equal(image.read(), a)
    assert image.size == eks.Size(5, 4, shape[0] if len(shape) == 4 else 1,
                                  shape[-1] if len(shape) > 2 else 1)


@pytest.mark.parametrize("space", SPACES)
def test_reads_in_every_space_are_flips_and_transposes(space, rgb):
    expected = SPACES[space](rgb)
    np.testing.assert_array_equal(eks.MemoryImage(rgb).read(space=space), expected)


def test_boxes_in_another_space_address_that_space(rgb):
    image = eks.MemoryImage(rgb)
    flipped = np.flip(rgb, 0)
    np.testing.assert_array_equal(image.read(1, 1, 3, 2, space="lower_left"), flipped[1:3, 1:4])


@pytest.mark.parametrize("channels", [[2, 1, 0], [1], [0, 0, 2], [-1, 0]])
def test_channel_selection_is_fancy_indexing(channels, rgb):
    np.testing.assert_array_equal(eks.MemoryImage(rgb).read(channels=channels), rgb[..., channels])


def test_an_integer_channel_drops_the_channel_axis(rgb):
    np.testing.assert_array_equal(eks.MemoryImage(rgb).read(channels=2), rgb[..., 2])


@pytest.mark.parametrize("dtype", [np.int8, np.uint16, np.int16, np.uint32, np.int32,
                                   np.float32, np.float64])
def test_type_conversions_match_astype(dtype, rgb):
    small = (rgb % 100).astype(np.uint8)  # in range of every type
    got = eks.MemoryImage(small).read(dtype=dtype, space="lower_left")
    assert got.dtype == dtype
    np.testing.assert_array_equal(got, np.flip(small, 0).astype(dtype))


def test_orders_move_the_channel_axis(rgb):
    image = eks.MemoryImage(rgb)
    np.testing.assert_array_equal(image.read(order="separate"), np.moveaxis(rgb, 2, 0))
    np.testing.assert_array_equal(image.read(order="sequential"), np.moveaxis(rgb, 2, 1))
    planes = eks.MemoryImage(np.ascontiguousarray(np.moveaxis(rgb, 2, 0)), order="separate")
    np.testing.assert_array_equal(planes.read(), rgb)


def test_outside_the_image_reads_the_fill(rgb):
    image = eks.MemoryImage(rgb)
    image.fill = (255, 0, 9)
    assert image.fill == (255, 0, 9)
    got = image.read(-2, 3, 4, 3)
    expected = np.empty((3, 4, 3), np.uint8)
    expected[:] = (255, 0, 9)
    expected[0, 2:] = rgb[3, :2]
    np.testing.assert_array_equal(got, expected)
    np.testing.assert_array_equal(image.read(50, 50, 2, 2, channels=[2]), np.full((2, 2, 1), 9))


@pytest.mark.parametrize("x, y, width, height, z, depth, shape", [
    (0, 0, 4, 4, 5, None, (4, 4, 3)),        # past the last slice: one slice of fill
    (0, 0, 4, 4, -2, None, (3, 4, 4, 3)),    # two slices of fill, then the image
    (0, 0, 4, 4, 0, 0, (0, 4, 4, 3)),        # nothing asked, nothing returned
    (-9, 2, 11, 3, 7, 2, (2, 3, 11, 3)),
])
def test_every_returned_element_is_written(x, y, width, height, z, depth, shape):
    a = np.arange(4 * 4 * 3, dtype=np.uint8).reshape(4, 4, 3)
    image = eks.MemoryImage(a)
    image.fill = (101, 102, 103)
    got = image.read(x, y, width, height, z=z, depth=depth)
    assert got.shape == shape
    # The reference: the image as one slice amid fill.
    padded = np.empty((21, 24, 24, 3), np.uint8)
    padded[:] = (101, 102, 103)
    padded[10, 10:14, 10:14] = a
    d = shape[0] if len(shape) == 4 else 1
    want = padded[10 + z:10 + z + d, 10 + y:10 + y + height, 10 + x:10 + x + width]
    np.testing.assert_array_equal(got, want.reshape(shape))


def test_three_dimensional_boxes(rng):
    a = rng.random((3, 4, 5, 2), dtype=np.float32)
    image = eks.MemoryImage(a)
    np.testing.assert_array_equal(image.read(1, 2, 3, 2, z=1, depth=2), a[1:3, 2:4, 1:4])
    assert image.read(z=2, depth=1).shape == (1, 4, 5, 2)


def test_read_into_fills_the_given_array(rgb):
    out = np.zeros((2, 3, 2), np.float64)
    eks.MemoryImage(rgb).read_into(out, 1, 1, channels=[0, 2], space="upper_right")
    np.testing.assert_array_equal(out, np.flip(rgb, 1)[1:3, 1:4][..., [0, 2]])


def test_writes_land_where_numpy_assignment_puts_them(rgb, rng):
    image = eks.MemoryImage(np.zeros((4, 5, 3), np.uint8))
    patch = rng.integers(0, 256, (2, 3, 3), dtype=np.uint8)
    image.write(patch, 1, 2)
    expected = np.zeros((4, 5, 3), np.uint8)
    expected[2:4, 1:4] = patch
    np.testing.assert_array_equal(np.asarray(image), expected)
    # Outside the image the write is dropped; channels pick the targets.
    image.write(np.full((3, 3, 1), 5.7, np.float32), 3, 2, channels=[1])
    expected[2:4, 3:5, 1] = 5
    np.testing.assert_array_equal(np.asarray(image), expected)
    # A write in the lower-left space is stored flipped.
    image.write(patch, space="lower_left")
    np.testing.assert_array_equal(np.asarray(image)[2:4, 0:3], np.flip(patch, 0))


def test_fill_sets_a_box(rgb):
    image = eks.MemoryImage(rgb)
    expected = rgb.copy()
    image.fill(1, 1, 1, 2, 2)
    expected[1:3, 1:3] = 1
    image.fill((4, 5), 0, 0, 1, 4, channels=[2, 0])
    expected[:, 0, 2], expected[:, 0, 0] = 4, 5
    image.fill((6, 7, 8), 3, 0)
    expected[0:, 3:] = (6, 7, 8)
    image.fill(9, 4, 3, channels=[1, 2])  # one value for the listed channels
    expected[3, 4, 1:] = 9
    np.testing.assert_array_equal(rgb, expected)


def test_owned_pixels_start_at_zero_and_are_viewable():
    image = eks.MemoryImage((3, 4, 2), np.int32)
    assert image.dtype == np.int32 and image.coord_space == "upper_left"
    view = np.asarray(image)
    assert view.shape == (3, 4, 2) and not view.any()
    view[2, 3] = (-5, 6)
    assert image.read(3, 2, 1, 1).tolist() == [[[-5, 6]]]
    separate = eks.MemoryImage((2, 3, 4), np.uint8, order="separate")
    assert separate.order == "separate" and separate.size == eks.Size(4, 3, 1, 2)
    assert np.asarray(separate).shape == (2, 3, 4)


def test_bit_images_read_and_write_bool_arrays(rng):
    bits = rng.integers(0, 2, (5, 11)).astype(bool)
    image = eks.MemoryImage(bits.shape, bool)
    assert image.dtype == np.bool_
    image.write(bits)
    np.testing.assert_array_equal(image.read(), bits)
    np.testing.assert_array_equal(image.read(dtype=np.uint8, space="lower_left"),
                                  np.flip(bits, 0).astype(np.uint8))
    # Into bool, other types keep the library's rule: 1 when the low 8 bits are not 0.
    got = eks.MemoryImage(np.array([[2, 0, 1, 256, 511]], np.uint16)).read(dtype=bool)
    assert got.view(np.uint8).tolist() == [[1, 0, 1, 0, 1]]
    with pytest.raises(BufferError, match="pack"):
        memoryview(image)
    np.testing.assert_array_equal(np.asarray(image), bits)  # no view: what read() gives
    with pytest.raises(TypeError, match="bool"):
        eks.MemoryImage(bits)


def test_copy_to_another_image(rgb):
    target = eks.MemoryImage(np.zeros((6, 6, 3), np.uint8))
    eks.MemoryImage(rgb).copy_to(target, 1, 1, 2, 2, to_x=4, to_y=0, channels=[2, 1, 0])
    expected = np.zeros((6, 6, 3), np.uint8)
    expected[0:2, 4:6] = rgb[1:3, 1:3, ::-1]
    np.testing.assert_array_equal(np.asarray(target), expected)


def test_attributes(rgb):
    image = eks.MemoryImage(rgb)
    assert (image.order, image.color_model, image.dtype) == ("interleaved", "rgb", np.uint8)
    image.coord_space = "lower_left"  # reinterprets the rows: row 0 is now the bottom
    np.testing.assert_array_equal(image.read(space="upper_left"), np.flip(rgb, 0))
    for name, value in [("size", (2, 2)), ("dtype", np.float32), ("order", "separate")]:
        with pytest.raises(eks.NotAllowedError):
            setattr(image, name, value)
    assert "MemoryImage 5x4x1x3 uint8" in repr(image)


def test_refused_arrays_and_arguments(rgb):
    image = eks.MemoryImage(rgb)
    with pytest.raises(ValueError, match="C-contiguous"):
        eks.MemoryImage(rgb[:, ::2])
    with pytest.raises(ValueError, match="C-contiguous"):
        image.write(rgb[::2])
    frozen = rgb.copy()
    frozen.flags.writeable = False
    with pytest.raises(ValueError, match="writeable"):
        image.read_into(frozen)
    with pytest.raises(TypeError, match="float16"):
        image.read(dtype=np.float16)
    with pytest.raises(ValueError, match="channels"):
        image.write(np.zeros((2, 2), np.uint8))  # one channel into three
    with pytest.raises(ValueError, match="shape"):
        image.write(np.zeros((1, 1, 1, 1, 3), np.uint8))
    with pytest.raises(IndexError):
        image.read(channels=[3])
    with pytest.raises(ValueError, match="coordinate space"):
        image.read(space="upside_down")
    with pytest.raises(ValueError, match="negative"):
        image.read(width=-1)
    with pytest.raises(ValueError, match="32-bit"):
        image.read(x=2**31, width=1)
    with pytest.raises(ValueError, match="fill"):
        image.fill((1, 2))
    with pytest.raises(ValueError, match="fill"):
        image.fill = (1, 2, 3, 4, 5)  # one value, or one per channel


def test_statuses_become_exceptions(rgb):
    image = eks.MemoryImage(rgb)
    with pytest.raises(eks.BadColorModelError) as caught:
        image.color_model = "cmyk"  # four channels on a three-channel image
    error = caught.value
    assert isinstance(error, eks.Error)
    assert (error.status, error.name) == (19, "ekBadColorModel")
    assert "ekBadColorModel" in str(error)
    with pytest.raises(eks.BadColorModelError):
        image.read()  # the failure stays with the image ...
    image.clear_status()  # ... until it is cleared
    image.color_model = "rgb"
    np.testing.assert_array_equal(image.read(), rgb)
    assert issubclass(eks.NotImplementedError, NotImplementedError)
    assert issubclass(eks.NoMemoryError, MemoryError)


def test_reads_from_many_threads(rng):
    a = rng.integers(0, 256, (64, 64, 3), dtype=np.uint8)
    image = eks.MemoryImage(a)
    failures = []

    def reader(space):
        for _ in range(50):
            if not np.array_equal(image.read(space=space), SPACES[space](a)):
                failures.append(space)

    threads = [threading.Thread(target=reader, args=(s,)) for s in SPACES]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
