# SPDX-License-Identifier: Apache-2.0
# The mean of every channel of a TIFF file, computed by dask on every core: to
# dask the image is an array, read one tile per chunk by the threaded
# scheduler's threads at once.
import os
import sys
import tempfile

import dask.array as da
import numpy as np

import eks


def main():
    pixels = np.random.default_rng(1).integers(0, 4096, (1000, 1500, 3), dtype=np.uint16)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "picture.tif")
        with eks.TiffImage.create(path, pixels.shape, np.uint16, compression="deflate") as out:
            out.write(pixels)

        image = eks.TiffImage(path)
        x = da.from_array(image, chunks=image.chunks)  # one chunk per 256 x 256 tile
        means = x.mean(axis=(0, 1)).compute(scheduler="threads")
    print("mean of each channel:", means)
    return 0 if np.allclose(means, pixels.mean(axis=(0, 1))) else 1


if __name__ == "__main__":
    sys.exit(main())
