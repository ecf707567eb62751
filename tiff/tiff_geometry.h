// SPDX-License-Identifier: Apache-2.0
// The tags of one directory that say what kind of image it holds: what a
// layout is made from, what later directories must agree in to be slices,
// and whether a directory is a reduced-resolution copy or a mask.
#ifndef EKS_TIFF_TIFF_GEOMETRY_H
#define EKS_TIFF_TIFF_GEOMETRY_H

#include <tiffio.h>

#include <cstdint>

struct ekTiffGeometry {
    uint32_t width = 0, height = 0, tileW = 0, tileH = 0, rows = 0, subfile = 0;
    uint16_t spp = 0, bits = 0, format = 0, planar = 0, photometric = 0, compression = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT, subH = 1, subV = 1;
    bool tiled = false;

    // The current directory of `tif`.
    explicit ekTiffGeometry(TIFF* tif) {
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &subfile);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0xFFFF;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
        if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
        if (photometric == PHOTOMETRIC_YCBCR)
            TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &subH, &subV);
        tiled = TIFFIsTiled(tif) != 0;
        if (tiled) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
        } else {
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        }
    }

    bool isMask() const { return (subfile & FILETYPE_MASK) != 0; }
    // A reduced-resolution copy of the image (an overview), not of a mask.
    bool isOverview() const { return (subfile & FILETYPE_REDUCEDIMAGE) != 0 && !isMask(); }

    // The name of the first tag in which `g` differs, or null when the two
    // describe slices of one image. JPEG-compressed YCbCr is decoded to RGB,
    // so whether a directory is that counts as its compression.
    const char* firstDifference(const ekTiffGeometry& g) const {
        const bool jpeg = compression == COMPRESSION_JPEG,
                   gJpeg = g.compression == COMPRESSION_JPEG;
        const struct {
            bool differs;
            const char* tag;
        } checks[] = {
            {isMask() != g.isMask(), "NewSubfileType"},
            {width != g.width, "ImageWidth"},
            {height != g.height, "ImageLength"},
            {tiled != g.tiled, "TileWidth"},
            {tileW != g.tileW, "TileWidth"},
            {tileH != g.tileH, "TileLength"},
            {rows != g.rows, "RowsPerStrip"},
            {spp != g.spp, "SamplesPerPixel"},
            {bits != g.bits, "BitsPerSample"},
            {format != g.format, "SampleFormat"},
            {planar != g.planar, "PlanarConfiguration"},
            {photometric != g.photometric, "PhotometricInterpretation"},
            {orientation != g.orientation, "Orientation"},
            {subH != g.subH || subV != g.subV, "YCbCrSubsampling"},
            {photometric == PHOTOMETRIC_YCBCR && jpeg != gJpeg, "Compression"},
        };
        for (const auto& c : checks)
            if (c.differs) return c.tag;
        return nullptr;
    }
};

#endif  // EKS_TIFF_TIFF_GEOMETRY_H
