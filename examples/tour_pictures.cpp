// SPDX-License-Identifier: Apache-2.0
// The tour, part 3: the library's main job. A memory image holds a generated
// test picture; reading it back through a caller's layout (ekConfig) converts
// the data type, rearranges, selects or swaps the channels, mirrors or
// transposes the picture, and fills what lies outside the image. Every result
// is written as a picture file so that a person can check it by eye.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "eks/eks.h"
#include "tour.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr int W = 256, H = 192, C = 3;  // the test picture: 256 x 192, RGB
constexpr int Margin = 32;              // how far the edge-straddling read reaches out

// --- Picture files -------------------------------------------------------------
// Binary Netpbm, 8 bits per sample, rows top first: what nearly every viewer
// opens without any library.
bool writeNetpbm(const fs::path& path, const char* magic, int w, int h, int channels,
                 const unsigned char* samples) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) return false;
    const size_t n = size_t(w) * size_t(h) * size_t(channels);
    const bool ok =
        std::fprintf(f, "%s\n%d %d\n255\n", magic, w, h) > 0 && std::fwrite(samples, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}
bool writePpm(const fs::path& path, int w, int h, const unsigned char* rgb) {
    return writeNetpbm(path, "P6", w, h, 3, rgb);
}
bool writePgm(const fs::path& path, int w, int h, const unsigned char* grey) {
    return writeNetpbm(path, "P5", w, h, 1, grey);
}

// --- The test picture ----------------------------------------------------------
// A white "L" near the upper-left corner. An L looks different after every
// mirroring and transposition, so it tells where the picture went.
bool inMarker(int x, int y) {
    const bool stem = x >= 16 && x < 28 && y >= 16 && y < 76;
    const bool foot = x >= 16 && x < 64 && y >= 64 && y < 76;
    return stem || foot;
}

// Red grows to the right, green downwards, blue stays low; row 0 is the top.
Bytes testPicture() {
    Bytes rgb(size_t(W) * H * C);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            unsigned char* p = &rgb[(size_t(y) * W + size_t(x)) * C];
            const bool white = inMarker(x, y);
            p[0] = white ? 255 : static_cast<unsigned char>(x);
            p[1] = white ? 255 : static_cast<unsigned char>(y * 255 / (H - 1));
            p[2] = white ? 255 : 64;
        }
    return rgb;
}

// --- Running and reporting steps -------------------------------------------------
struct Report {
    fs::path folder;
    int steps = 0;
    int64_t bytes = 0;  // bytes the successful transfers moved into or out of caller buffers
    bool allOkay = true;
};

// One step: times the transfer alone, then saves its result (unless it
// failed) and prints one line. An empty file name means nothing is saved.
void runStep(Report& report, const char* what, int64_t bytes,
             const std::function<ekStatus()>& transfer, const char* file,
             const std::function<bool(const fs::path&)>& save, const char* expect) {
    const auto start = std::chrono::steady_clock::now();
    const ekStatus status = transfer();
    const auto stop = std::chrono::steady_clock::now();
    const long long micros =
        std::chrono::duration_cast<std::chrono::microseconds>(stop - start).count();

    bool saved = true;
    if (status == ekOkay && *file) saved = save(report.folder / file);
    const bool ok = status == ekOkay && saved;
    ++report.steps;
    if (status == ekOkay) report.bytes += bytes;
    report.allOkay = report.allOkay && ok;

    const char* written = !*file ? "-" : (ok ? file : "(not written)");
    std::printf("  %-42s %-6s %7lld B %6lld us  %-24s %s\n", what, ekStatusName(status),
                static_cast<long long>(bytes), micros, written, expect);
}

// Plain rounding back to 8 bits, so that a float result can be shown.
unsigned char toByte(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    return static_cast<unsigned char>(std::lround(std::min(v, 255.0f)));
}

}  // namespace

std::vector<unsigned char> tourTestPicture(int& w, int& h) {
    w = W;
    h = H;
    return testPicture();
}

bool tourWritePpm(const std::string& path, int w, int h, const unsigned char* rgb) {
    return writePpm(path, w, h, rgb);
}

bool tourPictures(const char* folder) {
    std::printf("\nThe main job: one memory image read back in many layouts\n");
    Report report;
    std::error_code error;
    fs::create_directories(folder, error);
    report.folder = fs::absolute(folder, error);
    if (error || !fs::is_directory(report.folder)) {
        std::printf("  cannot create the output folder %s\n", folder);
        return false;
    }

    // The image owns its buffer, allocated at the first reset. A memory image
    // counts rows from the bottom unless told otherwise; the picture is
    // generated top row first, so the image says so.
    ekMemoryImg image(ekSize(W, H, C), ekUChar, ekInterleaved);
    ekStatus setup = image.setCoordSpace(ekUpperLeft);
    // Reads outside the image get the fill value: magenta, which the picture
    // itself never contains.
    ekPixel magenta(ekUChar, C);
    magenta.setElem(255, 0);
    magenta.setElem(0, 1);
    magenta.setElem(255, 2);
    if (setup == ekOkay) setup = image.setFill(magenta);
    if (setup != ekOkay) {
        std::printf("  setting up the image failed: %s\n", ekStatusName(setup));
        return false;
    }
    std::printf("  a %d x %d RGB picture of unsigned chars, interleaved, stored top row first\n", W,
                H);
    std::printf("  (ekUpperLeft): red grows to the right, green downwards, and a white L sits\n");
    std::printf("  in the UPPER-LEFT corner as you see it. Fill value outside: magenta.\n\n");
    std::printf("  %-42s %-6s %9s %9s  %-24s %s\n", "step", "status", "bytes", "time", "file",
                "what you should see");

    const int64_t pixels = int64_t(W) * H;
    Bytes picture = testPicture();
    runStep(
        report, "write it: setTile, the image's own layout", pixels * C,
        [&] { return image.setTile(0, 0, W, H, picture.data(), nullptr); }, "", nullptr,
        "(kept in the image's buffer)");

    // 1. The image's own layout (a null configuration): the reference.
    Bytes rgb(size_t(pixels) * C);
    auto savePpm = [&](int w, int h) {
        return [&rgb, w, h](const fs::path& p) { return writePpm(p, w, h, rgb.data()); };
    };
    runStep(
        report, "own layout (null ekConfig)", pixels * C,
        [&] { return image.getTile(0, 0, W, H, rgb.data(), nullptr); }, "01-reference.ppm",
        savePpm(W, H), "the picture; L at the upper left");

    // 2. Another data type: the engine converts each element on the way.
    std::vector<float> floats(size_t(pixels) * C);
    ekConfig asFloat(ekFloat, ekInterleaved, C);
    runStep(
        report, "as ekFloat (rounded back to show it)", pixels * C * int64_t(sizeof(float)),
        [&] { return image.getTile(0, 0, W, H, floats.data(), &asFloat); }, "02-float.ppm",
        [&](const fs::path& p) {
            Bytes back(floats.size());
            std::transform(floats.begin(), floats.end(), back.begin(), toByte);
            return writePpm(p, W, H, back.data());
        },
        "same as 01");

    // 3. Separate order: one plane per channel. Shown side by side: R | G | B.
    Bytes planes(size_t(pixels) * C);
    ekConfig separate(ekUChar, ekSeparate, C);
    runStep(
        report, "ekSeparate: planes R | G | B side by side", pixels * C,
        [&] { return image.getTile(0, 0, W, H, planes.data(), &separate); },
        "03-separate-planes.pgm",
        [&](const fs::path& p) {
            Bytes wide(planes.size());
            for (int y = 0; y < H; ++y)
                for (int k = 0; k < C; ++k)
                    std::copy_n(&planes[(size_t(k) * H + size_t(y)) * W], W,
                                &wide[(size_t(y) * C + size_t(k)) * W]);
            return writePgm(p, W * C, H, wide.data());
        },
        "R bright right, G bright below, B dark");

    // 4. A channel list: buffer channel k holds image channel swap[k].
    int swap[C] = {2, 1, 0};
    ekConfig swapped(ekUChar, ekInterleaved, C, swap);
    runStep(
        report, "channel list {2, 1, 0}", pixels * C,
        [&] { return image.getTile(0, 0, W, H, rgb.data(), &swapped); }, "04-red-blue-swapped.ppm",
        savePpm(W, H), "blue grows to the right, not red");

    // 5. A channel offset without a list: one channel, starting at channel 1.
    Bytes grey(static_cast<size_t>(pixels));
    ekConfig greenOnly(ekUChar, ekInterleaved, 1, nullptr, 1);
    runStep(
        report, "one channel at offset 1 (green)", pixels,
        [&] { return image.getTile(0, 0, W, H, grey.data(), &greenOnly); }, "05-green.pgm",
        [&](const fs::path& p) { return writePgm(p, W, H, grey.data()); },
        "dark top, bright bottom; L upper left");

    // 6-8. Other coordinate spaces: the caller's origin corner and axes.
    // The buffer is always filled row by row in the caller's space.
    ekConfig upperRight(ekUChar, ekInterleaved, C, nullptr, 0, ekUpperRight);
    runStep(
        report, "ekUpperRight (origin at the right)", pixels * C,
        [&] { return image.getTile(0, 0, W, H, rgb.data(), &upperRight); }, "06-mirrored.ppm",
        savePpm(W, H), "mirrored: a reversed L at the upper right");

    ekConfig lowerLeft(ekUChar, ekInterleaved, C, nullptr, 0, ekLowerLeft);
    runStep(
        report, "ekLowerLeft (origin at the bottom)", pixels * C,
        [&] { return image.getTile(0, 0, W, H, rgb.data(), &lowerLeft); }, "07-upside-down.ppm",
        savePpm(W, H), "upside down: L at the lower left");

    // A transposed space exchanges the axes: the caller's x axis follows the
    // picture's vertical one, so the caller's box is H wide and W high.
    ekSize t;
    image.getSize(t, ekLeftUpper);
    ekConfig leftUpper(ekUChar, ekInterleaved, C, nullptr, 0, ekLeftUpper);
    runStep(
        report, "ekLeftUpper (axes exchanged)", pixels * C,
        [&] { return image.getTile(0, 0, t.x, t.y, rgb.data(), &leftUpper); }, "08-transposed.ppm",
        savePpm(t.x, t.y), "192 x 256, L lying as a \"7\" at the upper left");

    // 9. A box reaching past every edge, in the 3-D form (one slice): the
    // part outside the image comes back as the fill value.
    const int bw = W + 2 * Margin, bh = H + 2 * Margin;
    Bytes framed(size_t(bw) * size_t(bh) * C);
    runStep(
        report, "box (-32, -32) 320 x 256, getTile3D", int64_t(bw) * bh * C,
        [&] { return image.getTile3D(-Margin, -Margin, 0, bw, bh, 1, framed.data(), nullptr); },
        "09-outside-filled.ppm",
        [&](const fs::path& p) { return writePpm(p, bw, bh, framed.data()); },
        "the picture in a 32-pixel magenta frame");

    // 10. A sub-tile: the buffer holds a larger box than the request, and
    // only the requested part of it is written.
    const int cw = 128, ch = 112, tw = 96, th = 80;  // canvas (from -16, -16) and request
    Bytes canvas(size_t(cw) * ch * C, 160);
    runStep(
        report, "getSubTile (0, 0) 96 x 80 into a canvas", int64_t(tw) * th * C,
        [&] { return image.getSubTile(0, 0, tw, th, canvas.data(), -16, -16, cw, ch, nullptr); },
        "10-sub-tile.ppm", [&](const fs::path& p) { return writePpm(p, cw, ch, canvas.data()); },
        "the L corner, grey canvas around it");

    // 11. A constant image: every pixel one value, stored nowhere. Copied into
    // a memory image (copyTileCfg), it fills the four strips of a frame; the
    // picture goes in the middle.
    ekMemoryImg frame(ekSize(bw, bh, C), ekUChar, ekInterleaved);
    frame.setCoordSpace(ekUpperLeft);
    ekPixel navy(ekUChar, C);
    navy.setElem(128, 2);
    ekConstImg constant(navy);
    runStep(
        report, "ekConstImg frame via copyTileCfg", int64_t(bw) * bh * C,
        [&] {
            const ekTile strips[4] = {
                ekTile(0, 0, 0, bw, Margin, 1), ekTile(0, H + Margin, 0, bw, Margin, 1),
                ekTile(0, Margin, 0, Margin, H, 1), ekTile(W + Margin, Margin, 0, Margin, H, 1)};
            ekStatus s = frame.setTile(Margin, Margin, W, H, picture.data(), nullptr);
            for (const ekTile& t : strips)
                if (s == ekOkay)
                    s = constant.copyTileCfg(0, 0, 0, t.nx, t.ny, 1, &frame, t.x, t.y, 0, nullptr,
                                             0);
            return s == ekOkay ? frame.getTile(0, 0, bw, bh, framed.data(), nullptr) : s;
        },
        "11-constant-frame.ppm",
        [&](const fs::path& p) { return writePpm(p, bw, bh, framed.data()); },
        "the picture in a 32-pixel navy frame");

    // 12-13. A view: a 96 x 96 window of the picture from (8, 8) that shows
    // the channels as blue, green, red, read upside down (ekLowerLeft). The
    // result is written back through a plain view of the same window, so the
    // picture itself changes there.
    const int vx = 8, vy = 8, vw = 96;
    int bgr[C] = {2, 1, 0};
    ekConfig bgrOwn(ekAnyType, ekAnyOrder, C, bgr);
    ekSubImg window(&image, vx, vy, vw, vw, &bgrOwn);
    ekSubImg plain(&image, vx, vy, vw, vw, nullptr);
    Bytes win(size_t(vw) * vw * C);
    ekConfig upsideDown(ekUChar, ekInterleaved, C, nullptr, 0, ekLowerLeft);
    runStep(
        report, "ekSubImg window, blue/red swapped, flipped", int64_t(vw) * vw * C,
        [&] { return window.getTile(0, 0, vw, vw, win.data(), &upsideDown); }, "12-view-window.ppm",
        [&](const fs::path& p) { return writePpm(p, vw, vw, win.data()); },
        "the L's corner, blue-red, upside down");
    runStep(
        report, "written back through a view", int64_t(vw) * vw * C,
        [&] {
            const ekStatus s = plain.setTile(0, 0, vw, vw, win.data(), nullptr);
            return s == ekOkay ? image.getTile(0, 0, W, H, rgb.data(), nullptr) : s;
        },
        "13-view-written-back.ppm", savePpm(W, H), "01 with that window changed (upper left)");

    std::printf("\n  %d steps, %lld bytes moved, all statuses okay: %s\n", report.steps,
                static_cast<long long>(report.bytes), report.allOkay ? "yes" : "NO");
    std::printf("  pictures in %s\n", report.folder.string().c_str());
    return report.allOkay;
}
