// SPDX-License-Identifier: Apache-2.0
// The transfer benchmark's peers, each present only when the build found it:
// OpenCV's core module (cv::Mat headers over the benchmark's buffers), GDAL
// (GDALCopyWords64, GDALDeinterleave, a MEM dataset over a buffer) and
// libvips (a thread pool kept busy between rounds, not a peer of any row).
// The macros CV_PEER and GDAL_PEER wrap a peer's workload; in a build
// without that peer they drop it, tokens and all.
#ifndef EKS_BENCH_TRANSFER_BENCH_PEERS_H
#define EKS_BENCH_TRANSFER_BENCH_PEERS_H

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "eks/core.h"

#ifdef EKS_BENCH_OPENCV
#include <opencv2/core.hpp>
#define CV_PEER(...) std::function<void()>(__VA_ARGS__)
#else
#define CV_PEER(...) std::function<void()>()
#endif

#ifdef EKS_BENCH_GDAL
#include <gdal.h>
#define GDAL_PEER(...) std::function<void()>(__VA_ARGS__)
#else
#define GDAL_PEER(...) std::function<void()>()
#endif

#ifdef EKS_BENCH_VIPS
#include <vips/vips.h>
#endif

namespace bench {

constexpr int kSize = 4096;
constexpr size_t kPx = size_t(kSize) * kSize;

[[noreturn]] inline void peerFailed(const char* what) {
    std::fprintf(stderr, "peer failed: %s\n", what);
    std::exit(1);
}

#ifdef EKS_BENCH_OPENCV
inline cv::Mat mat(void* p, int type, int rows = kSize, int cols = kSize) {
    return cv::Mat(rows, cols, type, p);
}
// A peer call that reallocated its destination would time an allocation
// and write elsewhere: stop there.
inline void samePtr(const cv::Mat& m, const void* p) {
    if (m.data != p) peerFailed("OpenCV reallocated a destination");
}
// An interleaved 3 x 8-bit image split into three planes at dst.
inline void splitPlanes(unsigned char* src, unsigned char* dst) {
    cv::Mat planes[3] = {mat(dst, CV_8U), mat(dst + kPx, CV_8U), mat(dst + 2 * kPx, CV_8U)};
    cv::split(mat(src, CV_8UC3), planes);
    samePtr(planes[2], dst + 2 * kPx);
}
#endif

#ifdef EKS_BENCH_GDAL
// A MEM dataset of kSize x kSize pixels of nc interleaved bytes over the
// caller's buffer (no copy): what a GDAL program reads tiles from.
struct MemDataset {
    GDALDatasetH ds = nullptr;
    MemDataset(unsigned char* data, int nc) {
        GDALAllRegister();
        GDALDriverH mem = GDALGetDriverByName("MEM");
        ds = mem ? GDALCreate(mem, "", kSize, kSize, 0, GDT_Byte, nullptr) : nullptr;
        if (!ds) peerFailed("GDAL MEM dataset");
        for (int b = 0; b < nc; ++b) {
            char pointer[64], pixel[32], line[32];
            std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void*>(data + b));
            std::snprintf(pixel, sizeof pixel, "PIXELOFFSET=%d", nc);
            std::snprintf(line, sizeof line, "LINEOFFSET=%d", kSize * nc);
            char* options[] = {pointer, pixel, line, nullptr};
            if (GDALAddBand(ds, GDT_Byte, options) != CE_None) peerFailed("GDALAddBand");
        }
    }
    ~MemDataset() { GDALClose(ds); }
    MemDataset(const MemDataset&) = delete;
    MemDataset& operator=(const MemDataset&) = delete;
    // The box (x, y, t, t) of every band into a pixel-interleaved buffer.
    void read(int x, int y, int t, unsigned char* out, int nc) {
        if (GDALDatasetRasterIO(ds, GF_Read, x, y, t, t, out, t, t, GDT_Byte, nc, nullptr, nc,
                                t * nc, 1) != CE_None)
            peerFailed("GDALDatasetRasterIO");
    }
};
inline GDALDataType gdalType(ekType t) {
    return t == ekUChar ? GDT_Byte : t == ekUShort ? GDT_UInt16 : GDT_Float32;
}
// An interleaved 3 x 8-bit image split into three planes at dst.
inline void gdalSplitPlanes(const unsigned char* src, unsigned char* dst) {
    void* planes[3] = {dst, dst + kPx, dst + 2 * kPx};
    GDALDeinterleave(src, GDT_Byte, 3, planes, GDT_Byte, kPx);
}
#endif

// With --vips: libvips started, and between rounds a few crops of a
// picture written to memory on its thread pool, so that the pool's threads
// are alive (idle) while the rows are timed.
struct VipsPool {
    bool on = false;
#ifdef EKS_BENCH_VIPS
    unsigned char* pixels = nullptr;
    VipsImage* image = nullptr;
    bool start(const char* argv0, unsigned char* data) {
        if (VIPS_INIT(argv0) != 0) return false;
        pixels = data;
        image = vips_image_new_from_memory(pixels, kPx * 3, kSize, kSize, 3, VIPS_FORMAT_UCHAR);
        return on = image != nullptr;
    }
    void work() {
        for (int k = 0; k < 4; ++k) {
            VipsImage* crop = nullptr;
            if (vips_crop(image, &crop, 512 * k, 256 * k, 1024, 1024, nullptr) != 0)
                peerFailed("vips_crop");
            size_t bytes = 0;
            void* out = vips_image_write_to_memory(crop, &bytes);
            if (!out) peerFailed("vips_image_write_to_memory");
            g_free(out);
            g_object_unref(crop);
        }
    }
    ~VipsPool() {
        if (image) g_object_unref(image);
    }
    static std::string version() { return std::string("libvips ") + vips_version_string(); }
#else
    bool start(const char*, unsigned char*) { return false; }
    void work() {}
    static std::string version() { return ""; }
#endif
    std::function<void()> between() {
        if (!on) return nullptr;
        return [this] { work(); };
    }
};

}  // namespace bench

#endif
