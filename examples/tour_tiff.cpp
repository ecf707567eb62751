// SPDX-License-Identifier: Apache-2.0
// The tour, TIFF files: the test picture is written as a tiled, Deflate
// compressed TIFF file, opened again, and a window of it is read upside down.
// The file's tiles are the image's pages; a read decodes the tiles it touches
// into a page cache, so reading the same window again decodes nothing.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "eks/tiff.h"
#include "tour.h"

namespace {

constexpr int kTile = 64;

bool report(const char* what, ekStatus s, ekTiffImg& img) {
    std::printf("  %-52s %s%s%s\n", what, s == ekOkay ? "okay" : "FAILED", s == ekOkay ? "" : ": ",
                s == ekOkay ? "" : img.getMessage());
    return s == ekOkay;
}

}  // namespace

namespace {

// The second overview opens as an image of its own, a quarter of the size.
bool tourOverview(const std::string& path, const std::filesystem::path& dir) {
    ekTiffOpenOptions level2;
    level2.level = 2;
    ekTiffImg small(path.c_str(), level2);
    if (!report("open overview level 2", small.getStatus(), small)) return false;
    const int w = small.getXsize(), h = small.getYsize();
    std::printf("  %d overviews; level 2 is %d x %d\n", small.getOverviewCount(), w, h);
    std::vector<unsigned char> pixels(size_t(w) * h * 3);
    bool ok = report("read all of it", small.getTile(0, 0, w, h, pixels.data(), nullptr), small);
    if (ok) ok = tourWritePpm((dir / "17-tiff-overview-quarter.ppm").string(), w, h, pixels.data());
    std::printf("  17-tiff-overview-quarter.ppm: %s\n",
                ok ? "the picture at a quarter of its size" : "(not written)");
    return ok;
}

}  // namespace

bool tourTiff(const char* folder) {
    std::printf("\nImages on disk: the test picture as a tiled TIFF file (eks_tiff)\n");
    int w = 0, h = 0;
    std::vector<unsigned char> picture = tourTestPicture(w, h);
    const std::filesystem::path dir = std::filesystem::absolute(folder);
    const std::string path = (dir / "15-picture.tif").string();
    bool ok = true;
    {
        // A new file: 64 x 64 tiles, Deflate. Writes go into cached pages,
        // which flush (or the destructor) encodes into the file.
        ekTiffImg file(path.c_str(), ekSize(w, h, 1, 3), ekUChar, ekInterleaved, kTile, kTile,
                       ekTiffDeflate);
        ok = report("create 15-picture.tif, 64 x 64 tiles, Deflate", file.getStatus(), file);
        if (ok)
            ok = report("write the picture (setTile)",
                        file.setTile(0, 0, w, h, picture.data(), nullptr), file);
        if (ok) ok = report("flush: encode the dirty tiles", file.flush(), file);
        // Reduced-resolution levels, each twice smaller, averaged tile by
        // tile; close() writes what is left and says whether it all reached
        // the disk.
        const int factors[] = {2, 4};
        if (ok)
            ok = report("build overviews 1/2 and 1/4 (average)",
                        file.buildOverviews(factors, 2, ekTiffAverage), file);
        if (ok) ok = report("close", file.close(), file);
    }
    if (!ok) return false;

    ekTiffImg img(path.c_str());
    if (!report("open it again for reading", img.getStatus(), img)) return false;
    std::printf("  %d x %d, %d channels, pages (tiles) %d x %d, cache budget %lld KiB\n",
                img.getXsize(), img.getYsize(), img.getCsize(), img.getPageSizeX(),
                img.getPageSizeY(), static_cast<long long>(img.getCacheBytes() >> 10));

    // The upper-left 160 x 128 pixels, addressed from the lower-left corner:
    // rows come back bottom first, so the L stands on its head.
    const int nx = 160, ny = 128;
    std::vector<unsigned char> window(size_t(nx) * ny * 3);
    const ekConfig upsideDown(ekUChar, ekInterleaved, 3, nullptr, 0, ekLowerLeft);
    for (int pass = 1; pass <= 2 && ok; ++pass) {
        ok = report(pass == 1 ? "read a window upside down (ekLowerLeft)"
                              : "read it again: every tile from the cache",
                    img.getTile(0, h - ny, nx, ny, window.data(), &upsideDown), img);
        std::printf("    page cache: %lld hits, %lld misses, %lld evictions\n",
                    static_cast<long long>(img.getCacheHits()),
                    static_cast<long long>(img.getCacheMisses()),
                    static_cast<long long>(img.getCacheEvictions()));
    }
    if (ok)
        ok = tourWritePpm((dir / "16-tiff-window-upside-down.ppm").string(), nx, ny, window.data());
    std::printf("  16-tiff-window-upside-down.ppm: %s\n",
                ok ? "the L upside down at the lower left" : "(not written)");
    return ok && tourOverview(path, dir);
}
