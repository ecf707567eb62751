# SPDX-License-Identifier: Apache-2.0
# A TIFF file as a labelled xarray DataArray over a dask array: named
# dimensions and band names, computed lazily, tile by tile.
import os
import sys
import tempfile

import dask.array as da
import numpy as np
import xarray as xr

import eks


def main():
    pixels = np.random.default_rng(4).integers(0, 4096, (600, 800, 3), dtype=np.uint16)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "picture.tif")
        with eks.TiffImage.create(path, pixels.shape, np.uint16, compression="deflate") as out:
            out.write(pixels)

        image = eks.TiffImage(path)
        bands = xr.DataArray(da.from_array(image, chunks=image.chunks), dims=("y", "x", "band"),
                             coords={"band": ["red", "green", "blue"]})
        green = bands.sel(band="green").mean().compute()
        top_half = bands.isel(y=slice(0, 300)).mean(dim=("y", "x")).compute()
    print("mean of green:", float(green))
    print("means of the top half:", dict(zip(top_half.band.values, top_half.values)))
    return 0 if (np.isclose(green, pixels[..., 1].mean())
                 and np.allclose(top_half, pixels[:300].mean(axis=(0, 1)))) else 1


if __name__ == "__main__":
    sys.exit(main())
