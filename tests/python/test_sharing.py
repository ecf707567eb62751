# SPDX-License-Identifier: Apache-2.0
# Images shared by threads and processes (every kind's pickle is read in
# test_arrays.py): a TIFF file's cache, threads, pickle, token and lock.
import os
import pickle
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import eks
from conftest import has_tiff, needs_tiff, tiff_of


@needs_tiff
def test_tiff_cache_threads_pickles_and_tokens(tmp_path, rng, monkeypatch):
    monkeypatch.delenv("EKS_NUM_THREADS", raising=False)
    out = eks.TiffImage.create(tmp_path / "c.tif", (16, 16))  # a file being written
    assert out.threads == os.cpu_count()
    a = rng.integers(0, 255, (64, 64), dtype=np.uint8)
    image = tiff_of(a, tmp_path / "t.tif")
    assert image.threads == 1  # reads stay on the calling thread
    image[:32, :32]
    image[:16, :16]
    assert image.cache_stats == (1, 4, 0) and image.cache_stats["misses"] == 4
    image.cache_bytes = 0  # evicts all but the page in use
    assert image.cache_bytes == 0 and image.cache_stats.evictions == 4
    image.threads = 0
    assert image.threads == os.cpu_count()
    with pytest.raises(eks.BadInputError):
        image.threads = -1
    image.cache_bytes, image.threads = 12345, 1
    copy = pickle.loads(pickle.dumps(image))
    assert (copy.cache_bytes, copy.threads) == (12345, 1)
    monkeypatch.setenv("EKS_NUM_THREADS", "3")
    monkeypatch.chdir(tmp_path)
    relative = eks.TiffImage("t.tif")  # pickles the absolute path
    assert relative.threads == 3 and relative.__dask_tokenize__() == image.__dask_tokenize__()
    monkeypatch.chdir("/")
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(relative)).read(), a)
    token = copy.__dask_tokenize__()
    rewritten = tiff_of(a + 1, tmp_path / "t.tif")
    os.utime(tmp_path / "t.tif", ns=(1, 1))  # whatever the clock's granularity
    assert eks.TiffImage(tmp_path / "t.tif").__dask_tokenize__() != token
    assert rewritten.__dask_tokenize__() != token
    # A file being written has no pickle, and a token of its own.
    with pytest.raises(eks.NotAllowedError, match="close.*reading"):
        pickle.dumps(out)
    assert out.__dask_tokenize__() == out.__dask_tokenize__()
    assert out.__dask_tokenize__() != eks.TiffImage.create(tmp_path / "d.tif",
                                                           (16, 16)).__dask_tokenize__()
    out.close()
    with pytest.raises(eks.NotAllowedError, match="closed"):
        pickle.dumps(out)


def test_threads_share_a_tiff_and_use_graphs_of_their_own(tmp_path, rng):
    a = rng.integers(0, 65535, (96, 80, 3), dtype=np.uint16)
    shared = eks.MemoryImage(a)
    if has_tiff:
        shared = tiff_of(a, tmp_path / "shared.tif", compression="lzw")
        shared.cache_bytes = 40000  # a few tiles: pages come and go while threads read

    def work(seed):
        r = np.random.default_rng(seed)
        own = eks.MemoryImage(np.zeros_like(a))
        view = eks.SubImage(own, 8, 8)
        for _ in range(150):
            y, x = r.integers(0, 80, 2)
            key = np.s_[y:y + 24:r.integers(1, 3), x:x + 20]
            np.testing.assert_array_equal(shared[key], a[key])
            view[y:y + 9, x:x + 9] = shared[y + 8:y + 17, x + 8:x + 17]  # clipped alike
        written = np.asarray(own)
        assert np.all((written == 0) | (written == a))

    with ThreadPoolExecutor(6) as pool:  # its results raise what a thread raised
        list(pool.map(work, range(6)))


@needs_tiff
def test_reads_of_a_file_share_its_lock_and_changes_wait(tmp_path, rng):
    # A long read holds the file's lock shared: short reads pass it, a change
    # waits for its end. Progress is counted in cache misses, not by the clock.
    image = tiff_of(rng.integers(0, 65535, (2000, 1000, 3), dtype=np.uint16),
                    tmp_path / "long.tif", tile=(64, 64), compression="lzw")
    image.cache_bytes, image.threads = 0, 1
    long_read = lambda: image[::2]  # noqa: E731
    start = image.cache_stats.misses
    long_read()
    whole = image.cache_stats.misses - start  # some 600 pages; a short read needs one or two
    for attempt in range(3):  # a thread kept off the processor may see the long read end
        start = image.cache_stats.misses
        thread = threading.Thread(target=long_read)
        thread.start()
        while image.cache_stats.misses == start and thread.is_alive():  # under way
            time.sleep(0.001)
        for _ in range(20):
            image[0, 0]
        went_through = image.cache_stats.misses - start < whole  # before the long read ended
        image.fill = attempt
        assert image.cache_stats.misses - start >= whole  # the change waited for its end
        thread.join()
        if went_through:
            return
    pytest.fail("short reads waited for the long read each time")
