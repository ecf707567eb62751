# SPDX-License-Identifier: Apache-2.0
# TIFF files the module writes, read back by other readers (GDAL, tifffile;
# skipped when absent): every codec, predictor and type it accepts, overviews
# by each method in a cloud-optimized file, and tags that make a GeoTIFF.
import pickle

import numpy as np
import pytest

import eks
from conftest import needs_tiff

pytestmark = needs_tiff
gdal = pytest.importorskip("osgeo.gdal")
gdal.UseExceptions()
try:
    from osgeo_utils.samples import validate_cloud_optimized_geotiff as cog_check
except ImportError:
    cog_check = None

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
    info = np.iinfo(dtype) if np.dtype(dtype).kind in "iu" else None
    if lossless:
        if info is None:
            return (rng.standard_normal(shape) * 1e6).astype(dtype)
        return rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)
    y, x, c = np.indices(shape)
    smooth = 120 + 60 * np.sin(x / 15 + c / 2) + 50 * np.cos(y / 11)  # 10 .. 230
    return smooth.astype(dtype)


def gdal_read(path):
    ds = gdal.Open(str(path))
    return np.stack([ds.GetRasterBand(b + 1).ReadAsArray() for b in range(ds.RasterCount)], -1)


@pytest.mark.parametrize("codec, dtype, predictor", CASES)
def test_codecs_round_trip_through_other_readers(codec, dtype, predictor, tmp_path, rng):
    _, _, error, keywords = CODECS[codec]
    a = pixels(dtype, error == (0, 0), rng)
    path = tmp_path / f"{codec}.tif"
    with eks.TiffImage.create(path, a.shape, a.dtype, tile=(16, 16), compression=codec,
                              predictor=predictor, **keywords) as out:
        out[...] = a
    coding = gdal.Open(str(path)).GetMetadata("IMAGE_STRUCTURE")
    assert codec.upper() in coding.get("COMPRESSION", "NONE")
    assert coding.get("PREDICTOR", "1") == str(predictor)
    ours, theirs = eks.TiffImage(path)[...], gdal_read(path).view(a.dtype)
    np.testing.assert_array_equal(ours, theirs)
    diff = np.abs(ours.astype(np.float64) - a)
    assert diff.mean() <= error[0] and diff.max() <= error[1]
    tifffile = pytest.importorskip("tifffile")
    try:
        other = tifffile.imread(path)
    except Exception:  # a codec tifffile cannot decode without imagecodecs
        return
    np.testing.assert_array_equal(other, ours)


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
    if cog_check:
        assert cog_check.validate(str(path), full_check=True)[1] == []
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


def test_tags_keep_their_type_and_make_a_geotiff(tmp_path):
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
