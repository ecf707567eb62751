# SPDX-License-Identifier: Apache-2.0
# The same mean on a cluster of worker processes. Dask sends the image to the
# workers pickled: a TIFF file opened for reading travels as its path (with
# its cache budget and thread count), and each worker opens the file again.
import os
import sys
import tempfile

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

import eks


def main():
    pixels = np.random.default_rng(2).integers(0, 4096, (1000, 1500, 3), dtype=np.uint16)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "picture.tif")
        with eks.TiffImage.create(path, pixels.shape, np.uint16, compression="deflate") as out:
            out.write(pixels)

        with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                          dashboard_address=":0") as cluster, Client(cluster):
            image = eks.TiffImage(path)
            x = da.from_array(image, chunks=image.chunks)
            means = x.mean(axis=(0, 1)).compute()  # on the cluster: the client is the default
    print("mean of each channel, from two processes:", means)
    return 0 if np.allclose(means, pixels.mean(axis=(0, 1))) else 1


if __name__ == "__main__":  # worker processes import this file again
    sys.exit(main())
