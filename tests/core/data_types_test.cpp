// Per-type facts and display names.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "eks/core.h"

namespace {

struct TypeFacts {
    ekType type;
    int size5;  // ekDataSize(type, 5)
    double min, max;
    int isSigned;
    const char* name;
};

const TypeFacts kFacts[] = {
    {ekBit, 1, 0, 1, 0, "bit"},
    {ekUChar, 5, 0, 255, 0, "unsigned char"},
    {ekChar, 5, -128, 127, 4, "char"},
    {ekUShort, 10, 0, 65535, 0, "unsigned short"},
    {ekShort, 10, -32768, 32767, 16, "short"},
    {ekULong, 20, 0, 4294967295.0, 0, "unsigned long"},
    {ekLong, 20, -2147483648.0, 2147483647.0, 64, "long"},
    {ekFloat, 20, -FLT_MAX, FLT_MAX, 128, "float"},
    {ekDouble, 40, -DBL_MAX, DBL_MAX, 256, "double"},
    {ekAnyType, 0, 0, 0, 0x1D4, "unknown"},
};

}  // namespace

TEST(DataTypes, FactsPerType) {
    for (const TypeFacts& f : kFacts) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(ekDataSize(f.type, 5), f.size5);
        EXPECT_EQ(ekDataMin(f.type), f.min);
        EXPECT_EQ(ekDataMax(f.type), f.max);
        EXPECT_EQ(ekDataIsSigned(f.type), f.isSigned);
        EXPECT_STREQ(ekTypeName(f.type), f.name);
    }
    EXPECT_EQ(ekDataMax(ekFloat), 3.4028234663852886e+38);
    EXPECT_EQ(ekDataMin(ekDouble), -1.7976931348623157e+308);
}

TEST(DataTypes, SizeEdges) {
    EXPECT_EQ(ekDataSize(ekBit, 9), 2);
    EXPECT_EQ(ekDataSize(ekBit, 8), 1);
    EXPECT_EQ(ekDataSize(ekBit, 0), 0);
    EXPECT_EQ(ekDataSize(ekAnyType, 9), 0);
    EXPECT_EQ(ekDataSize(ekType(3), 9), 0);
    EXPECT_EQ(ekDataSize(ekUChar, 0), 0);
    // Sizes beyond the int range clamp instead of overflowing.
    EXPECT_EQ(ekDataSize(ekDouble, INT32_MAX), INT32_MAX);
    EXPECT_EQ(ekDataSize(ekShort, 1 << 30), INT32_MAX);
    EXPECT_EQ(ekDataSize(ekDouble, INT32_MIN), INT32_MIN);
    EXPECT_EQ(ekDataSize(ekBit, INT32_MAX), 268435456);  // (2^31 + 6) / 8
    EXPECT_EQ(ekDataSize(ekUChar, INT32_MAX), INT32_MAX);
}

TEST(DataTypes, SmallestTypeForRange) {
    EXPECT_EQ(ekDataType(0, 1), ekBit);
    EXPECT_EQ(ekDataType(0.9, 1.9), ekBit);
    EXPECT_EQ(ekDataType(-0.9, 1), ekBit);
    EXPECT_EQ(ekDataType(0, 2), ekUChar);
    EXPECT_EQ(ekDataType(0, 255.5), ekUChar);
    EXPECT_EQ(ekDataType(0, 256), ekUShort);
    EXPECT_EQ(ekDataType(-1, 127), ekChar);
    EXPECT_EQ(ekDataType(-1, 200), ekShort);
    EXPECT_EQ(ekDataType(-5, -1), ekChar);
    EXPECT_EQ(ekDataType(0, 70000), ekULong);
    EXPECT_EQ(ekDataType(-1, 70000), ekLong);
    EXPECT_EQ(ekDataType(-2147483648.0, 2147483647.0), ekLong);
    EXPECT_EQ(ekDataType(5, 1), ekBit);  // reversed bounds are not special
}

TEST(DataTypes, SmallestTypeBeyondIntRange) {
    EXPECT_EQ(ekDataType(0, 3e9), ekULong);
    EXPECT_EQ(ekDataType(0, 4294967295.9), ekULong);
    EXPECT_EQ(ekDataType(0, 4294967296.0), ekFloat);
    EXPECT_EQ(ekDataType(-3e9, 0), ekFloat);
    EXPECT_EQ(ekDataType(0, 1e20), ekFloat);
    EXPECT_EQ(ekDataType(0, 1e300), ekDouble);
    EXPECT_EQ(ekDataType(-1e300, 0), ekDouble);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(ekDataType(0, inf), ekDouble);
    EXPECT_EQ(ekDataType(-inf, inf), ekDouble);
    EXPECT_EQ(ekDataType(nan, 1), ekDouble);
    EXPECT_EQ(ekDataType(0, nan), ekDouble);
}

TEST(DataTypes, DisplayNames) {
    EXPECT_STREQ(ekTypeName(3), "unknown");
    EXPECT_STREQ(ekTypeName(0), "unknown");
    EXPECT_STREQ(ekOrderName(ekInterleaved), "interleaved");
    EXPECT_STREQ(ekOrderName(ekSequential), "sequential");
    EXPECT_STREQ(ekOrderName(ekSeparate), "separate");
    EXPECT_STREQ(ekOrderName(ekAnyOrder), "unknown");
    EXPECT_STREQ(ekOrderName(3), "unknown");
    const char* spaces[] = {"unknown",    "upper-left",  "upper-right", "lower-right", "lower-left",
                            "left-upper", "right-upper", "right-lower", "left-lower",  "unknown"};
    for (int s = 0; s <= 9; ++s) EXPECT_STREQ(ekCoordSpaceName(s), spaces[s]) << s;
    const char* models[] = {"unknown",     "greyscale, minimum value white",
                            "greyscale",   "RGB",
                            "color index", "RGBA",
                            "HSV",         "CMY",
                            "CMYK",        "BGR",
                            "ABGR",        "multi-spectral",
                            "YCC",         "unknown"};
    for (int m = 0; m <= 13; ++m) EXPECT_STREQ(ekColorModelName(m), models[m]) << m;
    EXPECT_STREQ(ekCompressName(ekNoCompression), "none");
    EXPECT_STREQ(ekCompressName(2), "unknown");
    EXPECT_STREQ(ekCompressName(3), "CCITT Group 3");
    EXPECT_STREQ(ekCompressName(4), "CCITT Group 4");
    EXPECT_STREQ(ekCompressName(5), "Lempel-Ziv & Welch");
    EXPECT_STREQ(ekCompressName(32773), "Mac-RLE");
    EXPECT_STREQ(ekCompressName(32901), "DRX-RLE");
}
