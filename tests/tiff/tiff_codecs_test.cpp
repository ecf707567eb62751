// SPDX-License-Identifier: Apache-2.0
// Codecs and predictors of created files: one table of what is written and
// read back (exactly, or within a lossy codec's error), read with one and
// with four decoding threads (JPEG's YCbCr decoded as RGB on every handle);
// one of what is refused, by name. The lossless codecs and predictors are
// also drawn by TiffWrite.RandomWritesMatchMemoryImage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

struct Written {
    ekTiffCompression codec;
    int predictor;
    ekType type;
    int channels;
    ekOrder order;
    int quality;
    double maxError;
    double tolerance;  // 0: exact
};

const Written kWritten[] = {
    {ekTiffZSTD, 3, ekFloat, 1, ekInterleaved, 0, 0, 0},
    {ekTiffPackBits, 1, ekBit, 1, ekInterleaved, 0, 0, 0},
    {ekTiffLERC, 1, ekUShort, 2, ekInterleaved, 0, 0, 0},
    {ekTiffLERC, 1, ekFloat, 1, ekInterleaved, 0, 0.01, 0.0101},
    {ekTiffWebP, 1, ekUChar, 3, ekInterleaved, 0, 0, 0},
    {ekTiffWebP, 1, ekUChar, 4, ekInterleaved, 90, 0, 24},
    {ekTiffJPEG, 1, ekUChar, 3, ekInterleaved, 90, 0, 20},  // stored as YCbCr
    {ekTiffJPEG, 1, ekUChar, 1, ekInterleaved, 0, 0, 20},
    {ekTiffJPEG, 1, ekUChar, 3, ekSeparate, 0, 0, 20},
};

// Smooth values within every type's range: lossy codecs keep them close.
double valueAt(size_t i, ekType type) {
    const double v = 100 + 50 * std::sin(double(i) * 0.01);
    return type == ekBit ? double(i / 7 % 2) : type == ekFloat || type == ekDouble ? v / 3 : v;
}

TEST(TiffCodecs, WrittenFilesReadBackInEveryCodecAndPredictor) {
    for (const Written& w : kWritten) {
        SCOPED_TRACE(testing::Message() << "codec " << w.codec << " predictor " << w.predictor
                                        << " type " << w.type << " channels " << w.channels);
        const ekSize size(70, 50, 2, w.channels);  // partial tiles, two directories
        std::vector<double> pixels(size_t(70 * 50 * 2 * w.channels));
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = valueAt(i, w.type);
        const ekConfig asDoubles(ekDouble, w.order, w.channels, nullptr, 0, ekCoordSpace(0),
                                 ekColorModel(0));
        ekTiffCreateOptions options;
        options.tileWidth = options.tileHeight = 32;
        options.compression = w.codec;
        options.predictor = w.predictor;
        options.quality = w.quality;
        options.maxError = w.maxError;
        const std::string path = tempTiffPath("codec");
        {
            ekTiffImg img(path.c_str(), size, w.type, w.order, options);
            ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
            ASSERT_EQ(ekOkay, img.setTile3D(0, 0, 0, 70, 50, 2, pixels.data(), &asDoubles));
            ASSERT_EQ(ekOkay, img.close()) << img.getMessage();
        }
        for (int threads : {1, 4}) {
            ekTiffImg back(path.c_str());
            ASSERT_EQ(ekOkay, back.getStatus()) << back.getMessage();
            ASSERT_EQ(ekOkay, back.setThreads(threads));
            EXPECT_EQ(2, back.getZsize());
            EXPECT_EQ(int(w.codec), int(back.getCompression()));
            std::vector<double> got(pixels.size());
            ASSERT_EQ(ekOkay, back.getTile3D(0, 0, 0, 70, 50, 2, got.data(), &asDoubles))
                << back.getMessage();
            double worst = 0;
            for (size_t i = 0; i < got.size(); ++i) {
                // The written value as the file's type holds it.
                const double held = w.type == ekFloat    ? double(float(pixels[i]))
                                    : w.type == ekDouble ? pixels[i]
                                                         : std::trunc(pixels[i]);
                worst = std::max(worst, std::fabs(held - got[i]));
            }
            EXPECT_LE(worst, w.tolerance) << threads << " threads";
        }
    }
}

// Codecs and predictors, and also tile sizes, types and orders, that cannot
// be written: errors, not warnings.
TEST(TiffCodecs, CombinationsThatCannotBeWrittenAreRefusedByName) {
    struct Refused {
        ekTiffCompression codec;
        int predictor;
        ekType type;
        int channels;
        const char* named;
        ekOrder order = ekInterleaved;
        int tileWidth = 16;
        ekStatus status = ekBadAttribute;
    };
    const Refused refused[] = {{ekTiffJPEG, 1, ekUShort, 3, "JPEG"},
                               {ekTiffWebP, 1, ekUChar, 1, "WebP"},
                               {ekTiffWebP, 1, ekFloat, 3, "WebP"},
                               {ekTiffNone, 2, ekUChar, 1, "predictor 2"},
                               {ekTiffPackBits, 2, ekUChar, 1, "predictor 2"},
                               {ekTiffJPEG, 2, ekUChar, 1, "predictor 2"},
                               {ekTiffLERC, 3, ekFloat, 1, "predictor 3"},
                               {ekTiffDeflate, 3, ekUShort, 1, "predictor 3"},
                               {ekTiffCompression(6), 1, ekUChar, 1, "compression 6"},
                               {ekTiffNone, 1, ekUChar, 1, "", ekInterleaved, 20},
                               {ekTiffNone, 1, ekAnyType, 1, ""},
                               {ekTiffNone, 1, ekUChar, 1, "", ekSequential, 16, ekNotImplemented}};
    for (const Refused& r : refused) {
        ekTiffCreateOptions options;
        options.compression = r.codec;
        options.predictor = r.predictor;
        options.tileWidth = r.tileWidth;
        options.tileHeight = 16;
        const std::string path = tempTiffPath("refused");
        ekTiffImg img(path.c_str(), ekSize(20, 20, 1, r.channels), r.type, r.order, options);
        EXPECT_EQ(r.status, img.getStatus()) << r.named;
        EXPECT_NE(nullptr, std::strstr(img.getMessage(), r.named)) << img.getMessage();
        EXPECT_NE(0, std::strncmp(img.getMessage(), "warning", 7)) << img.getMessage();
    }
}

}  // namespace
