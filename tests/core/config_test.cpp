// ekConfig: construction and the channel mapping operations.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "eks/core.h"

TEST(Config, DefaultIsZeroFilled) {
    const ekConfig c;
    EXPECT_EQ(c.nchans, 0);
    EXPECT_EQ(c.chanList, nullptr);
    EXPECT_EQ(c.mapChan(0), -1);
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
    EXPECT_EQ(c.reserved, 0);
    ekConfig d;
    d = c;  // the list is shared, not duplicated
    EXPECT_EQ(d.chanList, list);
}

TEST(Config, MapChanWithOffset) {
    const ekConfig c(ekUChar, ekInterleaved, 3, nullptr, 2);
    EXPECT_EQ(c.mapChan(0), 2);
    EXPECT_EQ(c.mapChan(2), 4);
    EXPECT_EQ(c[1], 3);
    EXPECT_EQ(c.mapChan(3), -1);
    EXPECT_EQ(c.mapChan(-1), -1);
    // A huge offset must not overflow.
    const ekConfig far(ekUChar, ekInterleaved, 3, nullptr, INT32_MAX);
    EXPECT_EQ(far.mapChan(0), INT32_MAX);
    EXPECT_EQ(far.mapChan(2), INT32_MAX);
}

TEST(Config, MapChanWithListShiftsTheIndex) {
    int list[] = {7, 8, -1, 9};
    const ekConfig c(ekUChar, ekInterleaved, 3, list, 1);
    EXPECT_EQ(c.mapChan(0), 8);
    EXPECT_EQ(c.mapChan(1), -1);  // a negative entry passes through
    EXPECT_EQ(c.mapChan(2), 9);
    EXPECT_EQ(c.mapChan(3), -1);
}

TEST(Config, InvertIsInvertableCompose) {
    int list[] = {2, 0, 1};
    const ekConfig c(ekUChar, ekInterleaved, 3, list);
    std::vector<int> out(3, 99);
    c.invert(3, out.data());
    EXPECT_EQ(out, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(c.isInvertable(), 1);
    const int in[] = {2, 5};
    std::vector<int> composed(2, 99);
    c.compose(2, in, composed.data());
    EXPECT_EQ(composed, (std::vector<int>{1, -1}));
    const int outside[] = {-1, 3};
    c.compose(2, outside, composed.data());
    EXPECT_EQ(composed, (std::vector<int>{-1, -1}));
}

TEST(Config, InvertLaterChannelWinsAndDropsOutOfRange) {
    int list[] = {1, 1, 0};
    const ekConfig c(ekUChar, ekInterleaved, 3, list);
    EXPECT_EQ(c.isInvertable(), 0);
    std::vector<int> out(2, 99);
    c.invert(2, out.data());
    EXPECT_EQ(out, (std::vector<int>{2, 1}));

    int sparse[] = {-1, 5, 0};
    const ekConfig s(ekUChar, ekInterleaved, 3, sparse);
    std::vector<int> inv(4, 99);
    s.invert(4, inv.data());  // -1 never lands; 5 is past n and is dropped
    EXPECT_EQ(inv, (std::vector<int>{2, -1, -1, -1}));
    EXPECT_EQ(s.isInvertable(), 1);

    int twoNone[] = {-1, 0, -1};
    EXPECT_EQ(ekConfig(ekUChar, ekInterleaved, 3, twoNone).isInvertable(), 0);
    EXPECT_EQ(ekConfig(ekUChar, ekInterleaved, 4, nullptr, 3).isInvertable(), 1);
}
