# SPDX-License-Identifier: Apache-2.0
# TiffImage, when the module is built with eks_tiff: a created file written
# from numpy reads back equal, in any space; closing reports what did not reach
# the disk.
import gc
import struct
import subprocess

import numpy as np
import pytest

import eks

pytestmark = pytest.mark.skipif(not hasattr(eks, "TiffImage"), reason="built without eks_tiff")


def test_a_created_file_reads_back(tmp_path, rng):
    a = rng.integers(0, 65536, (40, 50, 3), dtype=np.uint16)
    path = tmp_path / "picture.tif"  # any os.PathLike
    created = eks.TiffImage.create(path, a.shape, np.uint16, tile=(16, 32))
    created.write(a)
    created.flush()
    del created
    image = eks.TiffImage(path)
    assert image.shape == a.shape and image.dtype == np.uint16
    np.testing.assert_array_equal(np.asarray(image), a)
    np.testing.assert_array_equal(image.read(space="lower_left", channels=[2]),
                                  np.flip(a, 0)[..., [2]])
    with pytest.raises(eks.NotAllowedError):
        image.write(a)


def test_a_missing_file_raises_with_the_reason(tmp_path):
    with pytest.raises(eks.BadInputError, match="No such file"):
        eks.TiffImage(tmp_path / "missing.tif")


@pytest.mark.parametrize("make", [eks.TiffImage, lambda p: eks.TiffImage.create(p, (16, 16))])
def test_a_path_with_a_nul_is_refused(make, tmp_path):
    keep = tmp_path / "keep.tif"
    keep.write_bytes(b"kept")
    with pytest.raises(ValueError, match="null"):
        make(str(keep) + "\0-new.tif")
    assert keep.read_bytes() == b"kept"


def tiff_tags(path, wanted=(262, 338)):
    """Values of SHORT tags (photometric, extra samples) in a little-endian
    file's first directory."""
    data = path.read_bytes()
    assert data[:4] == b"II*\0"
    (ifd,) = struct.unpack_from("<I", data, 4)
    (count,) = struct.unpack_from("<H", data, ifd)
    found = {}
    for at in range(ifd + 2, ifd + 2 + 12 * count, 12):
        tag, _, n, offset = struct.unpack_from("<HHII", data, at)
        if tag in wanted:
            found[tag] = list(struct.unpack_from(f"<{n}H", data, at + 8 if n <= 2 else offset))
    return [found.get(tag) for tag in wanted]


# Photometric 1 min-is-black, 2 RGB; extra sample 0 unspecified, 2 alpha.
@pytest.mark.parametrize("shape, dtype, photometric, tags", [
    ((16, 16, 4), np.uint8, None, [[2], [0]]),
    ((16, 16, 4), np.uint16, "rgba", [[2], [2]]),
    ((16, 16, 4), np.uint8, "minisblack", [[1], [0, 0, 0]]),
    ((16, 16, 3), np.float32, None, [[1], [0, 0]]),
    ((16, 16, 3), np.uint8, None, [[2], None]),
])
def test_the_photometric_and_a_fourth_channel(shape, dtype, photometric, tags, tmp_path):
    path = tmp_path / "bands.tif"
    with eks.TiffImage.create(path, shape, dtype, photometric=photometric):
        pass
    assert tiff_tags(path) == tags
    with pytest.raises(eks.BadAttributeError):
        eks.TiffImage.create(path, (16, 16, 2), photometric="rgb")
    with pytest.raises(ValueError, match="photometric"):
        eks.TiffImage.create(path, (16, 16), photometric="cmyk")


def test_close_ends_the_image_once_its_pages_are_let_go(tmp_path, rng):
    a = rng.integers(0, 256, (20, 30), dtype=np.uint8)
    with eks.TiffImage.create(tmp_path / "closed.tif", a.shape, tile=(16, 32)) as out:
        out.write(a)
        with out.lock() as pages:  # the cached tiles themselves
            assert pages[0].pixels.flags.writeable and pages[0].pixels.shape == (32, 16)
            with pytest.raises(eks.NotAllowedError, match="locked"):
                out.close()
            del pages
    assert out.closed
    out.close()  # a second close does nothing
    for use in (out.read, out.flush, out.lock):
        with pytest.raises(eks.NotAllowedError, match="closed"):
            use()
    image = eks.TiffImage(tmp_path / "closed.tif")
    with image.lock() as pages:
        assert not pages[0].pixels.flags.writeable
    np.testing.assert_array_equal(image.read(), a)


def test_an_unclosed_image_warns_and_is_written(tmp_path):
    out = eks.TiffImage.create(tmp_path / "unclosed.tif", (16, 16))
    out.write(np.full((16, 16), 5, np.uint8))
    with pytest.warns(ResourceWarning, match="not closed"):
        del out
        gc.collect()
    assert eks.TiffImage(tmp_path / "unclosed.tif").read().min() == 5


@pytest.fixture
def tiny_disk(tmp_path):
    """A file system of 256 KiB, where this process may mount one."""
    mount = tmp_path / "tiny"
    mount.mkdir()
    try:
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(mount)],
                              capture_output=True)
    except OSError:
        done = None
    if done is None or done.returncode != 0:
        pytest.skip("cannot mount a tmpfs here")
    yield mount
    # Lazily: a file the failed test still holds open must not keep it mounted.
    subprocess.run(["umount", "-l", str(mount)], check=True)


def test_a_failed_close_keeps_the_pages_and_says_why(tiny_disk, rng):
    a = rng.integers(0, 256, (256, 256, 3), dtype=np.uint8)  # 192 KiB that do not compress
    filler = tiny_disk / "filler"
    filler.write_bytes(bytes(160 << 10))
    out = eks.TiffImage.create(tiny_disk / "full.tif", a.shape, tile=(64, 64),
                               compression="deflate")
    out.write(a)
    with pytest.raises(eks.BadInputError, match="No space left on device"):
        out.close()
    assert not out.closed
    filler.unlink()  # room again: close once more
    out.close()
    np.testing.assert_array_equal(eks.TiffImage(tiny_disk / "full.tif").read(), a)
