# SPDX-License-Identifier: Apache-2.0
# TiffImage: refusals; files it writes read by GDAL and tifffile (skipped when
# absent), files they write read by eks; closing, which reports what failed.
import gc
import pickle
import subprocess

import numpy as np
import pytest

import eks
from conftest import needs_tiff, tiff_of

pytestmark = needs_tiff


@pytest.fixture
def gdal():
    gdal = pytest.importorskip("osgeo.gdal")
    gdal.UseExceptions()
    return gdal


# Each refused before the file is touched.
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


INTS = ["uint8", "int8", "uint16", "int16", "uint32", "int32"]
FLOATS = ["float32", "float64"]
# codec: dtypes, predictors, the largest (mean, max) error of the pixels, the
# codec's own keywords.
CODECS = {
    "none": (INTS + FLOATS, [1], (0, 0), {}),
    "packbits": (INTS + FLOATS, [1], (0, 0), {}),
    "lzw": (INTS + FLOATS, [1, 2, 3], (0, 0), {}),
    "deflate": (INTS + FLOATS, [1, 2, 3], (0, 0), {"level": 9}),
    "zstd": (INTS + FLOATS, [1, 2, 3], (0, 0), {"level": 9}),
    "lerc": (INTS + FLOATS, [1], (2, 2), {"max_error": 2.0}),
    "webp": (["uint8"], [1], (0, 0), {}),  # lossless without a quality
    "jpeg": (["uint8"], [1], (3, 40), {"quality": 90}),
}
CASES = [(codec, dtype, predictor) for codec, (dtypes, predictors, _, _) in CODECS.items()
         for dtype in dtypes for predictor in predictors
         if predictor != 3 or dtype in FLOATS]


def pixels(dtype, lossless, rng, shape=(40, 50, 3)):
    """The type's whole range at random, or a smooth picture for lossy codecs."""
    if lossless and np.dtype(dtype).kind == "f":
        return (rng.standard_normal(shape) * 1e6).astype(dtype)
    if lossless:
        info = np.iinfo(dtype)
        return rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)
    y, x, c = np.indices(shape)
    return (120 + 60 * np.sin(x / 15 + c / 2) + 50 * np.cos(y / 11)).astype(dtype)  # 10 .. 230


@pytest.mark.parametrize("codec, dtype, predictor", CASES)
def test_codecs_round_trip_through_gdal(codec, dtype, predictor, tmp_path, rng, gdal):
    _, _, error, keywords = CODECS[codec]
    a = pixels(dtype, error == (0, 0), rng)
    path = tmp_path / f"{codec}.tif"
    with eks.TiffImage.create(path, a.shape, a.dtype, tile=(16, 16), compression=codec,
                              predictor=predictor, **keywords) as out:
        out[...] = a
    ds = gdal.Open(str(path))
    coding = ds.GetMetadata("IMAGE_STRUCTURE")
    assert codec.upper() in coding.get("COMPRESSION", "NONE")
    assert coding.get("PREDICTOR", "1") == str(predictor)
    theirs = np.stack([ds.GetRasterBand(b + 1).ReadAsArray() for b in range(3)], -1)
    ours = eks.TiffImage(path)[...]
    np.testing.assert_array_equal(ours, theirs.view(a.dtype))
    diff = np.abs(ours.astype(np.float64) - a)
    assert diff.mean() <= error[0] and diff.max() <= error[1]


@pytest.mark.parametrize("method", ["nearest", "average", "mode"])
def test_overviews_by_each_method_in_a_cloud_optimized_file(method, tmp_path, rng):
    # Blocks of 2 x 2 alike but for their first pixel, d above the rest: the
    # three methods give three different levels.
    base = rng.integers(0, 200, (24, 32, 2), dtype=np.uint8)
    a = base.repeat(2, 0).repeat(2, 1)
    a[::2, ::2] += rng.integers(4, 50, base.shape, dtype=np.uint8)
    want = {"nearest": a[::2, ::2], "mode": base,
            "average": np.floor(a.reshape(24, 2, 32, 2, 2).mean(axis=(1, 3)) + 0.5)}
    path = tmp_path / "pyramid.tif"
    with eks.TiffImage.create(path, a.shape, a.dtype, tile=(16, 16), compression="zstd",
                              cog=True) as out:
        out[...] = a
        out.build_overviews([4, 2], method)
    try:
        from osgeo_utils.samples import validate_cloud_optimized_geotiff as cog
        assert cog.validate(str(path), full_check=True)[1] == []
    except ImportError:
        pass
    first, second = eks.TiffImage(path, 1), eks.TiffImage(path, 2)
    assert (first.overviews, second.shape) == (2, (12, 16, 2))
    np.testing.assert_array_equal(first[...], want[method])
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(first))[...], first[...])
    with pytest.raises(eks.BadInputError):
        eks.TiffImage(path, 3)
    with pytest.raises(eks.NotAllowedError):
        out.build_overviews([2])  # once closed


# A geographic file from nothing but numbers: pixel size, the corner's
# longitude and latitude, the GeoKeys of WGS 84 (EPSG 4326) and nodata; then
# tags of every TIFF type.
RATIONAL = np.dtype([("numerator", "u4"), ("denominator", "u4")])
TAGS = {
    33550: np.array([0.25, 0.25, 0.0]),
    33922: np.array([0, 0, 0, 10.0, 50.0, 0]),
    34735: np.array([1, 1, 0, 3, 1024, 0, 1, 2, 1025, 0, 1, 1, 2048, 0, 1, 4326], np.uint16),
    42113: "-9999",
    **{65000 + k: value for k, value in enumerate([
        np.array([1, 255], np.uint8), np.array([-1], np.int8), np.array([65535], np.uint16),
        np.array([-2, 3], np.int16), np.array([2**32 - 1], np.uint32),
        np.array([-5], np.int32), np.array([0.5], np.float32), np.array([1e300]),
        np.array([(1, 3)], RATIONAL), np.frombuffer(b"a\0b", "V1"), "text \u00e9",
        np.array([1, 2], ">u2")])},  # any byte order
}


def test_tags_keep_their_type_make_a_geotiff_and_photometrics_by_name(tmp_path, gdal):
    path = tmp_path / "geo.tif"
    with eks.TiffImage.create(path, (40, 50), np.int16, tags=TAGS, compression="zstd",
                              level=19) as out:  # beyond Deflate's levels
        out[...] = 7
    copy = gdal.Open(str(path))
    assert copy.GetGeoTransform() == pytest.approx((10.0, 0.25, 0, 50.0, 0, -0.25))
    assert "WGS 84" in copy.GetProjection()
    assert copy.GetRasterBand(1).GetNoDataValue() == -9999
    image = eks.TiffImage(path)
    assert image.nodata == -9999 and image.fill == (-9999,)
    assert image.tags.keys() == TAGS.keys()
    for tag, value in TAGS.items():
        if isinstance(value, str):
            assert image.tags[tag] == value
        else:
            assert image.tags[tag].dtype == value.dtype.newbyteorder("=")
            np.testing.assert_array_equal(image.tags[tag], value)
    tifffile = pytest.importorskip("tifffile")
    with tifffile.TiffFile(path) as f:
        types = [int(f.pages[0].tags[t].dtype) for t in sorted(TAGS)]
    assert types == [12, 12, 3, 2, 1, 6, 3, 8, 4, 9, 11, 12, 5, 7, 2, 3]
    # Photometric 1 min-is-black, 2 RGB; extra sample 0 unspecified, 2 alpha.
    for shape, photometric, tags in [((16, 16, 4), "rgba", (2, [2])), ((16, 16, 3), "rgb", (2, [])),
                                     ((16, 16, 4), "minisblack", (1, [0, 0, 0]))]:
        with eks.TiffImage.create(tmp_path / "bands.tif", shape, photometric=photometric):
            pass
        with tifffile.TiffFile(tmp_path / "bands.tif") as f:
            assert (int(f.pages[0].photometric), list(f.pages[0].extrasamples)) == tags


# A sparse file's tiles that were never stored read as GDAL reads them: the
# nodata value in every channel (1-bit samples too, separate planes too), in
# an integer type rounded and clamped as GDAL converts it; it is the fill too.
@pytest.mark.parametrize("interleave, gdal_type, nodata, options", [
    ("PIXEL", "Int16", -9999, []),
    ("BAND", "Float32", np.nan, []),
    ("PIXEL", "Byte", 1, ["NBITS=1"]),
    ("BAND", "Byte", -9999, []),
    ("PIXEL", "UInt16", 12.5, []),
])
def test_tiles_a_sparse_file_never_stored_read_as_its_nodata(interleave, gdal_type, nodata,
                                                             options, tmp_path, gdal):
    path = str(tmp_path / "sparse.tif")
    ds = gdal.GetDriverByName("GTiff").Create(
        path, 40, 30, 2, gdal.GetDataTypeByName(gdal_type),
        ["TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "SPARSE_OK=TRUE",
         f"INTERLEAVE={interleave}"] + options)
    for b in (1, 2):
        ds.GetRasterBand(b).SetNoDataValue(nodata)
        ds.GetRasterBand(b).WriteArray(np.full((16, 16), b - 1), 16, 0)  # one tile of three
    ds = None
    ds = gdal.Open(path)
    theirs = np.stack([ds.GetRasterBand(b).ReadAsArray() for b in (1, 2)], -1)
    image = eks.TiffImage(path)
    np.testing.assert_array_equal(image[...].astype(theirs.dtype), theirs)
    np.testing.assert_array_equal(np.array(image.fill, theirs.dtype), theirs[-1, -1])


# 16-bit floating-point samples read as float32, every one of the 65536
# values exactly (signed zeros, subnormals, infinities and NaNs too).
@pytest.mark.parametrize("compression", [None, "zlib"])
def test_every_half_float_reads_as_its_float32(compression, tmp_path):
    tifffile = pytest.importorskip("tifffile")
    halves = np.arange(65536, dtype=np.uint16).view(np.float16).reshape(128, 512)
    tifffile.imwrite(tmp_path / "h.tif", halves, tile=(64, 64), compression=compression)
    ours, want = eks.TiffImage(tmp_path / "h.tif")[...], halves.astype(np.float32)
    assert ours.dtype == np.float32
    np.testing.assert_array_equal(ours, want)
    np.testing.assert_array_equal(np.signbit(ours), np.signbit(want))


# Files written by another writer: tiles (height, width), slices and strips;
# a palette's indices, also in the image's pickle.
@pytest.mark.parametrize("shape, layout, chunks", [
    ((40, 50, 3), {"tile": (16, 32)}, (16, 32, 3)),
    ((20, 30), {"tile": (16, 16), "photometric": "palette",
                "colormap": np.arange(768, dtype=np.uint16).reshape(3, 256)}, (16, 16)),
    ((40, 50), {"tile": (16, 16)}, (16, 16)),
    ((10, 12), {"tile": (16, 16)}, (10, 12)),
    ((3, 20, 30, 2), {"tile": (16, 16)}, (1, 16, 16, 2)),
    ((20, 30, 2), {"rowsperstrip": 8, "photometric": "minisblack"}, (8, 30, 2)),
])
def test_chunks_are_tiles_slices_or_strips(shape, layout, chunks, tmp_path, rng):
    tifffile = pytest.importorskip("tifffile")
    a = rng.integers(0, 255, shape, dtype=np.uint8)
    tifffile.imwrite(tmp_path / "c.tif", a, planarconfig="contig", **layout)
    image = eks.TiffImage(tmp_path / "c.tif", palette_indices="colormap" in layout)
    assert image.chunks == chunks and eks.MemoryImage(a).chunks == shape
    key = np.s_[1:, 3:17:2, ::-3][:a.ndim]
    np.testing.assert_array_equal(image[key], a[key])
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(image))[key], a[key])
    if len(shape) < 4:
        view = eks.SubImage(image, 1, 1, 8, 8)
        assert view.chunks == tuple(min(8, n) for n in chunks[:2]) + chunks[2:]


def test_dask_stores_chunks_that_share_tiles(tmp_path, rng):
    da = pytest.importorskip("dask.array")
    a = rng.integers(0, 65535, (70, 90, 3), dtype=np.uint16)
    image = tiff_of(a, tmp_path / "in.tif", tile=(32, 16))
    x = da.from_array(image, chunks=image.chunks)
    # Chunks that share tiles, each tile evicted between its writes.
    with eks.TiffImage.create(tmp_path / "shared.tif", a.shape, a.dtype, tile=(32, 16),
                              compression="deflate") as out:
        out.cache_bytes = 0
        da.store(x[::-1].rechunk((11, 13, 3)) + 1, out, lock=False, scheduler="threads")
    np.testing.assert_array_equal(np.asarray(eks.TiffImage(tmp_path / "shared.tif")), a[::-1] + 1)


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


def test_a_failed_close_keeps_the_pages_and_says_why(tmp_path, rng):
    # On a file system of 256 KiB, where this process may mount one.
    disk = tmp_path / "tiny"
    disk.mkdir()
    try:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(disk)],
                       check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("cannot mount a tmpfs here")
    try:
        a = rng.integers(0, 256, (256, 256, 3), dtype=np.uint8)  # 192 KiB that do not compress
        (disk / "filler").write_bytes(bytes(160 << 10))
        out = eks.TiffImage.create(disk / "full.tif", a.shape, tile=(64, 64),
                                   compression="deflate")
        out.write(a)
        with pytest.raises(eks.BadInputError, match="No space left on device"):
            out.close()
        assert not out.closed
        (disk / "filler").unlink()  # room again: close once more
        out.close()
        np.testing.assert_array_equal(eks.TiffImage(disk / "full.tif").read(), a)
    finally:  # lazily: a file the failed test still holds open must not keep it mounted
        subprocess.run(["umount", "-l", str(disk)], check=True)
