# SPDX-License-Identifier: Apache-2.0
# TiffImage, when the module is built with eks_tiff: the paths, shapes and
# codings it refuses, the photometric it writes, and closing, which reports
# what did not reach the disk.
import gc
import subprocess

import numpy as np
import pytest

import eks
from conftest import needs_tiff

pytestmark = needs_tiff


# Each refused before the file is touched; what the library refuses names the
# codec (its refusals of codec and type are tested with the library).
@pytest.mark.parametrize("path, shape, dtype, keywords, error, message", [
    ("missing.tif", None, None, {}, eks.BadInputError, "No such file"),
    ("keep.tif\0-new.tif", None, None, {}, ValueError, "null"),
    ("keep.tif\0", (16, 16), np.uint8, {}, ValueError, "null"),
    ("keep.tif", (16, 16, 2), np.uint8, {"photometric": "rgb"}, eks.BadAttributeError,
     "photometric"),
    ("keep.tif", (16, 16), np.uint8, {"photometric": "cmyk"}, ValueError, "photometric"),
    ("keep.tif", (16, 16), np.uint16, {"compression": "lzw", "predictor": 3},
     eks.BadAttributeError, "predictor 3"),
    ("keep.tif", (16, 16), np.uint8, {"compression": "deflate", "level": 10},
     eks.BadAttributeError, "Deflate level 10"),
    ("keep.tif", (16, 16, 3), np.uint8, {"compression": "jpeg", "quality": 101},
     eks.BadAttributeError, "quality"),
    ("keep.tif", (16, 16), np.float32, {"compression": "lerc", "max_error": -1},
     eks.BadAttributeError, "LERC"),
    ("keep.tif", (16, 16), np.uint8, {"compression": "bzip2"}, ValueError, "bzip2"),
    ("keep.tif", (16, 16), np.uint8, {"tags": {70000: "x"}}, ValueError, ""),
    ("keep.tif", (16, 16), np.uint8, {"tags": {65000: np.array([1j])}}, TypeError, ""),
    ("keep.tif", (16, 16), np.uint8, {"tags": {65000: np.array([], np.uint16)}}, ValueError, ""),
])
def test_refusals_leave_files_alone(path, shape, dtype, keywords, error, message, tmp_path):
    (tmp_path / "keep.tif").write_bytes(b"kept")
    with pytest.raises(error, match=message):
        if shape is None:
            eks.TiffImage(str(tmp_path / path))
        else:
            eks.TiffImage.create(str(tmp_path / path), shape, dtype, **keywords)
    assert (tmp_path / "keep.tif").read_bytes() == b"kept"


# Photometric 1 min-is-black, 2 RGB; extra sample 0 unspecified, 2 alpha (the
# library's choice without a name is tested with the library).
@pytest.mark.parametrize("shape, photometric, tags", [
    ((16, 16, 4), "rgba", (2, [2])),
    ((16, 16, 4), "minisblack", (1, [0, 0, 0])),
    ((16, 16, 3), "rgb", (2, [])),
])
def test_the_photometric_by_name(shape, photometric, tags, tmp_path):
    tifffile = pytest.importorskip("tifffile")
    with eks.TiffImage.create(tmp_path / "bands.tif", shape, photometric=photometric):
        pass
    with tifffile.TiffFile(tmp_path / "bands.tif") as f:
        page = f.pages[0]
        assert (int(page.photometric), [int(s) for s in page.extrasamples]) == tags


def test_close_waits_for_pages_and_an_unclosed_image_warns(tmp_path, rng):
    a = rng.integers(0, 256, (20, 30), dtype=np.uint8)
    with eks.TiffImage.create(tmp_path / "closed.tif", a.shape, tile=(16, 32)) as out:
        out.write(a)
        out.flush()
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
    np.testing.assert_array_equal(eks.TiffImage(tmp_path / "closed.tif").read(), a)
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
