# SPDX-License-Identifier: Apache-2.0
# A dask computation written into a new TIFF file. da.store hands each chunk
# to the image's __setitem__ from several threads; the image takes them one at
# a time, so no lock is needed (lock=False). Chunks that match the tiles write
# each tile once; chunks that share a tile are written correctly too, but the
# tile is encoded and read back between them.
import os
import sys
import tempfile

import dask.array as da
import numpy as np

import eks


def main():
    pixels = np.random.default_rng(3).integers(0, 4096, (1000, 1500, 3), dtype=np.uint16)
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "in.tif"), os.path.join(folder, "out.tif")
        with eks.TiffImage.create(source, pixels.shape, np.uint16, compression="deflate") as out:
            out.write(pixels)

        image = eks.TiffImage(source)
        x = da.from_array(image, chunks=image.chunks)
        brighter = da.minimum(x.astype(np.uint32) * 2, 4095).astype(np.uint16)
        with eks.TiffImage.create(target, x.shape, x.dtype, tile=(256, 256),
                                  compression="deflate") as out:
            da.store(brighter, out, lock=False)  # closing writes what is left

        written = np.asarray(eks.TiffImage(target))
    print("written:", written.shape, written.dtype)
    expected = np.minimum(pixels.astype(np.uint32) * 2, 4095).astype(np.uint16)
    return 0 if np.array_equal(written, expected) else 1


if __name__ == "__main__":
    sys.exit(main())
