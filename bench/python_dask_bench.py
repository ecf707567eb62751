#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Python at scale: a TIFF image under dask, on threads and on a local cluster
(run by hand, never by CI).

On a 12000 x 12000 x 3 uint16 Deflate file with 256 x 256 tiles (made once in
the data folder), each row is a ratio of two times measured in the same run:

1. da.from_array(image, chunks=image.chunks).mean(axis=(0, 1)) on the threaded
   scheduler with 2 workers, over the same with 1 worker;
2. the same with dask's defaults, over tifffile + zarr + dask on the same file
   (da.from_zarr(tifffile.imread(path, aszarr=True)), its defaults too);
3. LocalCluster(n_workers=2, processes=True, threads_per_worker=1), over the
   threaded scheduler with 1 worker; its means are checked against numpy's;
   rows 2b and 3b time the same graph over da.ones (no file at all): the part
   of rows 2 and 3 that dask and numpy's mean take whatever the reader;
4. four Python threads reading random 512 x 512 windows of one TiffImage, over
   one thread reading as many (the inverse of the gain in throughput).

    PYTHONPATH=build/python /usr/bin/python3 bench/python_dask_bench.py [data-folder] [rounds]

Times are medians over `rounds` (default 3), the two sides of a row taking
turns. The machine's CPU and the processes loading it are printed first: on a
shared machine only ratios measured together mean anything.
"""
import multiprocessing
import os
import statistics
import subprocess
import sys
import threading
import time
import warnings

import numpy as np

import eks

FOLDER = sys.argv[1] if len(sys.argv) > 1 else "/tmp/eks-bench"
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
SIDE, TILE = 12000, 256


def spin(seconds):
    """CPU seconds one process gets while spinning for `seconds`."""
    start, cpu = time.time(), time.process_time()
    while time.time() - start < seconds:
        pass
    return time.process_time() - cpu


def machine():
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f if "model name" in line), "?")
    print(f"CPU: {model}, {os.cpu_count()} cores; load average {os.getloadavg()}")
    top = subprocess.run(["ps", "-eo", "pcpu,comm", "--sort=-pcpu", "--no-headers"],
                         capture_output=True, text=True).stdout.splitlines()
    busy = [line.strip() for line in top if float(line.split()[0]) >= 5][:8]
    print("processes using 5 % of a core or more:", "; ".join(busy) or "none")
    available_cores("at the start")


def available_cores(when):
    """What the peers leave us: the kernel shares the cores between sessions,
    so rows 1, 3 and 4 can gain only up to this many cores."""
    with multiprocessing.Pool(os.cpu_count()) as pool:
        cores = sum(pool.map(spin, [1.0] * os.cpu_count()))
    print(f"cores available to this run {when} (spinning processes, 1 s): {cores:.2f}")


def make_file(path):
    """Smooth bands with sensor-like noise: Deflate keeps about 86 %."""
    if os.path.exists(path):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rng = np.random.default_rng(0)
    x = np.arange(SIDE)
    with eks.TiffImage.create(path + ".part", (SIDE, SIDE, 3), np.uint16, tile=(TILE, TILE),
                              compression="deflate") as out:
        for y in range(0, SIDE, TILE):
            rows = np.arange(y, min(y + TILE, SIDE))[:, None]
            base = np.sin(x / 300) * 8000 + np.cos(rows / 200) * 8000 + 20000
            band = np.stack([base, base * 0.8, base * 0.6], axis=-1)
            band += rng.normal(0, 40, band.shape)
            out.write(np.ascontiguousarray(band.astype(np.uint16)), 0, y)
    os.replace(path + ".part", path)


def timed(fn):
    """Seconds fn takes, and the cores this process used meanwhile."""
    cpu, start = os.times(), time.perf_counter()
    fn()
    seconds, used = time.perf_counter() - start, os.times()
    return seconds, (used.user - cpu.user + used.system - cpu.system) / seconds


def ratio_row(name, target, ours, theirs):
    """Times both sides in turns; prints the ratio of the medians and the
    cores each side kept busy in this process (a cluster's work is elsewhere)."""
    a, b = [], []
    for _ in range(ROUNDS):
        a.append(timed(ours))
        b.append(timed(theirs))
    ma, mb = statistics.median(t for t, _ in a), statistics.median(t for t, _ in b)
    ca, cb = statistics.median(c for _, c in a), statistics.median(c for _, c in b)
    print(f"| {name} | {ma:.2f} s / {mb:.2f} s = {ma / mb:.2f} | {ca:.2f} / {cb:.2f} "
          f"| {target} |", flush=True)


def dask_mean(path, **compute):
    import dask.array as da
    image = eks.TiffImage(path)
    return da.from_array(image, chunks=image.chunks).mean(axis=(0, 1)).compute(**compute)


def ones_mean(**compute):
    """The same graph without a file: what dask and numpy's mean cost alone."""
    import dask.array as da
    ones = da.ones((SIDE, SIDE, 3), chunks=(TILE, TILE, 3), dtype=np.uint16)
    return ones.mean(axis=(0, 1)).compute(**compute)


def zarr_mean(path):
    import dask.array as da
    import tifffile
    with tifffile.imread(path, aszarr=True) as store:
        return da.from_zarr(store).mean(axis=(0, 1)).compute()


def windows(path, threads, count=960, side=512):
    """`count` random windows of one image, read by `threads` threads."""
    image = eks.TiffImage(path)

    def work(seed):
        rng = np.random.default_rng(seed)
        for _ in range(count // threads):
            y, x = rng.integers(0, SIDE - side, 2)
            image[y:y + side, x:x + side]

    pool = [threading.Thread(target=work, args=(k,)) for k in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join()


def cluster_row(path):
    from dask.distributed import Client, LocalCluster
    # The threaded side runs while the cluster's client exists, on purpose.
    warnings.filterwarnings("ignore", "Running on a single-machine scheduler")
    reference = np.asarray(eks.TiffImage(path)).mean(axis=(0, 1))
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=":0") as cluster, Client(cluster):
        cluster_means = []

        def on_cluster():
            cluster_means.append(dask_mean(path))

        ratio_row("3. LocalCluster, 2 processes of 1 thread / threads, 1 worker", "≤ 0.70",
                  on_cluster, lambda: dask_mean(path, scheduler="threads", num_workers=1))
        ratio_row("3b. the floor: da.ones of the same chunks on the cluster / row 3's threads",
                  "—", lambda: ones_mean(), lambda: dask_mean(path, scheduler="threads",
                                                             num_workers=1))
    assert all(np.allclose(m, reference, rtol=1e-12) for m in cluster_means), "means differ"


def main():
    machine()
    path = os.path.join(FOLDER, f"dask-{SIDE}-rgb16-deflate.tif")
    make_file(path)
    print("\n| workload | eks / reference | cores used | target |\n|---|---|---|---|")
    ratio_row("1. threaded scheduler, 2 workers / 1 worker", "≤ 0.60",
              lambda: dask_mean(path, scheduler="threads", num_workers=2),
              lambda: dask_mean(path, scheduler="threads", num_workers=1))
    ratio_row("2. eks + dask / tifffile + zarr + dask, defaults", "≤ 0.50",
              lambda: dask_mean(path), lambda: zarr_mean(path))
    ratio_row("2b. the floor: da.ones of the same chunks / tifffile + zarr + dask", "—",
              lambda: ones_mean(), lambda: zarr_mean(path))
    cluster_row(path)
    ratio_row("4. 960 random 512² windows of one image: 4 threads / 1 thread",
              "≤ 0.59 (throughput ≥ 1.7)", lambda: windows(path, 4), lambda: windows(path, 1))
    available_cores("at the end")


if __name__ == "__main__":
    main()
