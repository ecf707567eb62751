# SPDX-License-Identifier: Apache-2.0
# TiffImage, when the module is built with eks_tiff: a created file written
# from numpy reads back equal, in any space.
import numpy as np
import pytest

import eks

pytestmark = pytest.mark.skipif(not hasattr(eks, "TiffImage"), reason="built without eks_tiff")


def test_a_created_file_reads_back(tmp_path, rng):
    a = rng.integers(0, 65536, (40, 50, 3), dtype=np.uint16)
    path = str(tmp_path / "picture.tif")
    created = eks.TiffImage.create(path, a.shape, np.uint16, tile=(16, 32))
    created.write(a)
    created.flush()
    del created
    image = eks.TiffImage(path)
    assert image.shape == a.shape and image.dtype == np.uint16
    np.testing.assert_array_equal(image.read(), a)
    np.testing.assert_array_equal(image.read(space="lower_left", channels=[2]),
                                  np.flip(a, 0)[..., [2]])
    with pytest.raises(eks.NotAllowedError):
        image.write(a)


def test_a_missing_file_raises_with_the_reason(tmp_path):
    with pytest.raises(eks.BadInputError):
        eks.TiffImage(str(tmp_path / "missing.tif"))
