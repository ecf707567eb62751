# SPDX-License-Identifier: Apache-2.0
# TIFF files the module writes, read back by other readers (GDAL, tifffile;
# skipped when absent): every codec, predictor and type it accepts, overview
# levels against a reference downsampling, cloud-optimized layout, and tags
# that make a GeoTIFF.
import pickle

import numpy as np
import pytest

import eks
from conftest import needs_tiff

pytestmark = needs_tiff
gdal = pytest.importorskip("osgeo.gdal")
gdal.UseExceptions()

INTS = ["uint8", "int8", "uint16", "int16", "uint32", "int32"]
FLOATS = ["float32", "float64"]
# codec: dtypes, predictors, the largest error a pixel may have (lossless:
# 0; JPEG and WebP: (mean, max) over the image), the codec's own keywords.
CODECS = {
    "none": (INTS + FLOATS, [1], 0, {}),
    "packbits": (INTS + FLOATS, [1], 0, {}),
    "lzw": (INTS + FLOATS, [1, 2, 3], 0, {}),
    "deflate": (INTS + FLOATS, [1, 2, 3], 0, {"level": 9}),
    "zstd": (INTS + FLOATS, [1, 2, 3], 0, {"level": 9}),
    "lerc": (INTS + FLOATS, [1], 2.0, {"max_error": 2.0}),
    "webp": (["uint8"], [1], 0, {}),  # lossless without a quality
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


def gdal_read(path, level=0):
    ds = gdal.Open(str(path))
    bands = [ds.GetRasterBand(b + 1) for b in range(ds.RasterCount)]
    if level:
        bands = [b.GetOverview(level - 1) for b in bands]
    return np.stack([b.ReadAsArray() for b in bands], axis=-1)


@pytest.mark.parametrize("codec, dtype, predictor", CASES)
def test_codecs_round_trip_through_other_readers(codec, dtype, predictor, tmp_path, rng):
    _, _, error, keywords = CODECS[codec]
    a = pixels(dtype, error == 0, rng)
    path = tmp_path / f"{codec}.tif"
    with eks.TiffImage.create(path, a.shape, a.dtype, tile=(16, 16), compression=codec,
                              predictor=predictor, **keywords) as out:
        out[...] = a
    ours, theirs = eks.TiffImage(path)[...], gdal_read(path).view(a.dtype)
    for got in (ours, theirs):
        diff = np.abs(got.astype(np.float64) - a)
        if isinstance(error, tuple):
            assert diff.mean() <= error[0] and diff.max() <= error[1]
        else:
            assert diff.max() <= error
    np.testing.assert_array_equal(ours, theirs)
    tifffile = pytest.importorskip("tifffile")
    try:
        other = tifffile.imread(path)
    except Exception:  # a codec tifffile cannot decode without imagecodecs
        return
    np.testing.assert_array_equal(other, ours)


def downsample(a, f, method):
    """Each pixel from its f x f block (cut at the edges): the first pixel, the
    mean (rounded for integers), or the most frequent value, the first met
    among equals."""
    out = np.empty((-(-a.shape[0] // f), -(-a.shape[1] // f), a.shape[2]), a.dtype)
    for y, x, c in np.ndindex(out.shape):
        v = a[y * f:(y + 1) * f, x * f:(x + 1) * f, c].ravel()
        values, counts = np.unique(v, return_counts=True)
        common = v[np.isin(v, values[counts == counts.max()])]
        pick = {"nearest": v[0], "average": np.floor(v.mean() + 0.5), "mode": common[0]}
        out[y, x, c] = pick[method]
    return out


@pytest.mark.parametrize("method", ["nearest", "average", "mode"])
def test_overviews_match_a_reference_downsampling(method, tmp_path, rng):
    a = rng.integers(0, 4 if method == "mode" else 256, (45, 70, 2), dtype=np.uint8)
    path = tmp_path / "pyramid.tif"
    with eks.TiffImage.create(path, a.shape, a.dtype, tile=(16, 16), compression="deflate") as out:
        out[...] = a
        out.build_overviews([4, 2], method)
    assert eks.TiffImage(path).overviews == 2 and gdal.Open(str(path)).RasterCount == 2
    for level, f in [(1, 2), (2, 4)]:
        image = eks.TiffImage(path, level)
        assert image.overviews == 2
        np.testing.assert_array_equal(image[...], downsample(a, f, method))
        np.testing.assert_array_equal(gdal_read(path, level), image[...])
        np.testing.assert_array_equal(pickle.loads(pickle.dumps(image))[...], image[...])
    with pytest.raises(eks.BadInputError):
        eks.TiffImage(path, 3)
    with pytest.raises(eks.NotAllowedError):
        eks.TiffImage(path).build_overviews([2])


def test_cloud_optimized_files_pass_gdals_validator(tmp_path, rng):
    validator = pytest.importorskip("osgeo_utils.samples.validate_cloud_optimized_geotiff")
    a = rng.integers(0, 256, (700, 600, 3), dtype=np.uint8)
    path = tmp_path / "cog.tif"
    with eks.TiffImage.create(path, a.shape, a.dtype, compression="zstd", cog=True) as out:
        out[...] = a
        out.build_overviews([2, 4], "average")
    _, errors, _ = validator.validate(str(path), full_check=True)
    assert errors == []
    np.testing.assert_array_equal(gdal_read(path), a)


def geotiff_by_gdal(path):
    osr = pytest.importorskip("osgeo.osr")
    ds = gdal.GetDriverByName("GTiff").Create(str(path), 50, 40, 1, gdal.GDT_Int16)
    ds.SetGeoTransform((500000, 30, 0, 4000000, 0, -30))
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(32633)
    ds.SetProjection(srs.ExportToWkt())
    ds.GetRasterBand(1).SetNoDataValue(-9999)
    ds.GetRasterBand(1).WriteArray(np.arange(2000, dtype=np.int16).reshape(40, 50))
    ds = None
    return eks.TiffImage(path).tags


# A geographic file from nothing but numbers: pixel size, the corner's
# longitude and latitude, and the GeoKeys of WGS 84 (EPSG 4326).
HAND_WRITTEN = {
    33550: np.array([0.25, 0.25, 0.0]),
    33922: np.array([0, 0, 0, 10.0, 50.0, 0]),
    34735: np.array([1, 1, 0, 3, 1024, 0, 1, 2, 1025, 0, 1, 1, 2048, 0, 1, 4326], np.uint16),
    42113: "-9999",
}


@pytest.mark.parametrize("source", ["gdal", "hand"])
def test_tags_make_a_geotiff_gdal_reads_alike(source, tmp_path):
    if source == "gdal":
        tags = geotiff_by_gdal(tmp_path / "src.tif")
        reference = gdal.Open(str(tmp_path / "src.tif"))
        transform, projection = reference.GetGeoTransform(), reference.GetProjection()
    else:
        tags = HAND_WRITTEN
        transform, projection = (10.0, 0.25, 0, 50.0, 0, -0.25), "WGS 84"
    path = tmp_path / "copy.tif"
    with eks.TiffImage.create(path, (40, 50), np.int16, tags=tags) as out:
        out[...] = 7
    copy = gdal.Open(str(path))
    assert copy.GetGeoTransform() == pytest.approx(transform)
    assert projection in copy.GetProjection()
    assert copy.GetRasterBand(1).GetNoDataValue() == -9999
    image = eks.TiffImage(path)
    assert image.nodata == -9999 and image.fill == (-9999,)
    assert image.tags.keys() == tags.keys()
    for tag, value in tags.items():
        np.testing.assert_array_equal(image.tags[tag], value)


def test_tags_of_every_type_keep_their_type(tmp_path):
    rational = np.dtype([("numerator", "u4"), ("denominator", "u4")])
    tags = {65000 + k: value for k, value in enumerate([
        np.array([1, 255], np.uint8), np.array([-1], np.int8), np.array([65535], np.uint16),
        np.array([-2, 3], np.int16), np.array([2**32 - 1], np.uint32),
        np.array([-5], np.int32), np.array([0.5], np.float32), np.array([1e300]),
        np.array([(1, 3)], rational), np.frombuffer(b"a\0b", "V1"), "text \u00e9",
        np.array([1, 2], ">u2")])}  # any byte order
    with eks.TiffImage.create(tmp_path / "t.tif", (16, 16), tags=tags, compression="zstd",
                              level=19):  # beyond Deflate's levels
        pass
    read = eks.TiffImage(tmp_path / "t.tif").tags
    for tag, value in tags.items():
        if isinstance(value, str):
            assert read[tag] == value
        else:
            assert read[tag].dtype == value.dtype.newbyteorder("=")
            np.testing.assert_array_equal(read[tag], value)
    tifffile = pytest.importorskip("tifffile")
    with tifffile.TiffFile(tmp_path / "t.tif") as f:
        types = [int(f.pages[0].tags[t].dtype) for t in sorted(tags)]
    assert types == [1, 6, 3, 8, 4, 9, 11, 12, 5, 7, 2, 3]
