// SPDX-License-Identifier: Apache-2.0
// ekConfig: argument order of the constructor and the channel mapping.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "eks/core.h"

namespace {

std::vector<int> inverse(const ekConfig& c, int n) {
    std::vector<int> out(n, 99);
    c.invert(n, out.data());
    return out;
}

TEST(Config, ConstructorStoresArgumentsInTheirFields) {
    int list[] = {3, 4};
    const ekConfig c(ekShort, ekSeparate, 2, list, 1, ekLowerLeft, ekRGB);
    EXPECT_EQ(c.type, ekShort);
    EXPECT_EQ(c.order, ekSeparate);
    EXPECT_EQ(c.nchans, 2);
    EXPECT_EQ(c.chanList, list);
    EXPECT_EQ(c.chanOffset, 1);
    EXPECT_EQ(c.coordSpace, ekLowerLeft);
    EXPECT_EQ(c.colorModel, ekRGB);
    EXPECT_EQ(ekConfig().mapChan(0), -1);  // the default maps nothing
}

TEST(Config, MapChanWithOffsetOrList) {
    const ekConfig off(ekUChar, ekInterleaved, 3, nullptr, 2);
    EXPECT_EQ(off.mapChan(0), 2);
    EXPECT_EQ(off[2], 4);
    EXPECT_EQ(off.mapChan(3), -1);
    EXPECT_EQ(off.mapChan(-1), -1);
    const ekConfig far(ekUChar, ekInterleaved, 3, nullptr, INT32_MAX);  // no overflow
    EXPECT_EQ(far.mapChan(2), INT32_MAX);
    int list[] = {7, 8, -1, 9};
    const ekConfig shifted(ekUChar, ekInterleaved, 3, list, 1);  // the offset shifts the index
    EXPECT_EQ(shifted.mapChan(0), 8);
    EXPECT_EQ(shifted.mapChan(1), -1);  // a negative entry passes through
    EXPECT_EQ(shifted.mapChan(2), 9);
    EXPECT_EQ(shifted.mapChan(3), -1);
}

TEST(Config, InvertIsInvertableCompose) {
    int perm[] = {2, 0, 1};
    const ekConfig c(ekUChar, ekInterleaved, 3, perm);
    EXPECT_EQ(inverse(c, 3), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(c.isInvertable(), 1);
    const int in[] = {2, 5, -1};
    std::vector<int> composed(3, 99);
    c.compose(3, in, composed.data());
    EXPECT_EQ(composed, (std::vector<int>{1, -1, -1}));

    int dup[] = {1, 1, 0};  // the later buffer channel wins
    EXPECT_EQ(ekConfig(ekUChar, ekInterleaved, 3, dup).isInvertable(), 0);
    EXPECT_EQ(inverse(ekConfig(ekUChar, ekInterleaved, 3, dup), 2), (std::vector<int>{2, 1}));
    int sparse[] = {-1, 5, 0};  // -1 never lands; 5 is past n and dropped
    EXPECT_EQ(inverse(ekConfig(ekUChar, ekInterleaved, 3, sparse), 4),
              (std::vector<int>{2, -1, -1, -1}));
    EXPECT_EQ(ekConfig(ekUChar, ekInterleaved, 3, sparse).isInvertable(), 1);
    int twoNone[] = {-1, 0, -1};  // equal negative entries count as a clash
    EXPECT_EQ(ekConfig(ekUChar, ekInterleaved, 3, twoNone).isInvertable(), 0);
}

}  // namespace
