// ekLink: alteration recording and propagation, the lazy reset, its order,
// its re-entry guard and the reset callback events.
#include "test_link.h"

namespace {

using ResetTest = GraphTest;

TEST_F(ResetTest, FirstQueryResetsOnceAndReportsFirstReset) {
    for (int mask : {1, 2}) {
        events.clear();
        TestLink l;
        l.enableResetCallback(mask);
        EXPECT_EQ(l.getDepth(), 0);
        EXPECT_EQ(l.resets, 1);
        EXPECT_EQ(codes(), "i");
        EXPECT_EQ(l.getStatus(), ekOkay);
        EXPECT_EQ(l.resets, 1);
        EXPECT_EQ(l.alteredMask(), 0u);
    }
    events.clear();
    TestLink quiet;
    quiet.enableResetCallback(4);  // no bit of 3: nothing reported
    quiet.getStatus();
    EXPECT_EQ(codes(), "");
}

TEST_F(ResetTest, LaterResetsAreReportedOnlyWithEnableBitTwo) {
    TestLink one, two;
    one.enableResetCallback(1);
    two.enableResetCallback(2);
    clean(one);
    clean(two);
    events.clear();
    one.setAltered(ekGeneralBit);
    two.setAltered(ekGeneralBit);
    one.getStatus();
    two.getStatus();
    ASSERT_EQ(codes(), "a");
    EXPECT_EQ(events[0].link, &two);
}

TEST_F(ResetTest, NoEventsWithoutACallbackFunction) {
    ekLink::setResetCallback(nullptr, nullptr);
    auto* l = new TestLink;
    TestLink child;
    child.addParent(l);
    l->enableResetCallback(3);
    child.enableResetCallback(3);
    child.getStatus();
    l->setAltered(ekPropagateBit);
    delete l;
    EXPECT_TRUE(events.empty());
}

TEST_F(ResetTest, ChainResetsParentsFirstWithIncreasingDepth) {
    std::vector<std::string> log;
    TestLink x("x", &log), y("y", &log), z("z", &log);
    y.addParent(&x);
    z.addParent(&y);
    for (TestLink* l : {&x, &y, &z}) clean(*l);
    log.clear();
    EXPECT_EQ(x.setAltered(ekGeneralBit), ekOkay);
    EXPECT_EQ(y.alteredMask() & ekGeneralBit, uint32_t(ekGeneralBit));
    EXPECT_EQ(z.alteredMask() & ekGeneralBit, uint32_t(ekGeneralBit));
    EXPECT_EQ(z.getStatus(), ekOkay);
    EXPECT_EQ(log, (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(x.getDepth(), 0);
    EXPECT_EQ(y.getDepth(), 1);
    EXPECT_EQ(z.getDepth(), 2);
    EXPECT_EQ(log.size(), 3u);
}

TEST_F(ResetTest, ResetOrderFollowsParentListOrderThroughADiamond) {
    // a -> b, a -> c, {c, b} -> d (c listed first), e -> d.
    std::vector<std::string> log;
    TestLink a("a", &log), b("b", &log), c("c", &log), d("d", &log), e("e", &log);
    b.addParent(&a);
    c.addParent(&a);
    d.setParent(&c, 0);
    d.setParent(&b, 1);
    d.setParent(&e, 2);
    EXPECT_EQ(d.getDepth(), 2);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c", "b", "e", "d"}));
    // Altering the top twice visits the diamond once: after the first round
    // every link has told its children.
    log.clear();
    a.setAltered(ekGeneralBit);
    for (TestLink* l : {&b, &c, &d}) EXPECT_NE(l->anyAltered(), 0);
    d.resetAltered();  // forget the mark to see whether it comes back
    a.setAltered(ekGeneralBit);
    EXPECT_EQ(d.alteredMask(), 0u);
    d.setAltered(ekGeneralBit);
    d.getStatus();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c", "b", "d"}));
}

TEST_F(ResetTest, ResetOrderIsVisibleThroughTheCallback) {
    ekLink::setResetCallbackDefaultEnabled(2, 0);
    TestLink a("a"), b("b"), c("c");
    b.addParent(&a);
    c.addParent(&b);
    c.getStatus();
    ASSERT_EQ(codes(), "iii");
    EXPECT_EQ(events[0].link, &a);
    EXPECT_EQ(events[1].link, &b);
    EXPECT_EQ(events[2].link, &c);
    events.clear();
    a.setAltered(ekGeneralBit);
    EXPECT_EQ(codes(), "");  // an ordinary alteration is reported by the reset
    c.getStatus();
    ASSERT_EQ(codes(), "aaa");
    EXPECT_EQ(events[0].link, &a);
    EXPECT_EQ(events[2].link, &c);
}

TEST_F(ResetTest, PropagatedLinkIsNotVisitedAgainButADisabledOneIs) {
    TestLink p, c;
    c.addParent(&p);
    clean(p);
    clean(c);
    p.setAltered(ekGeneralBit);
    EXPECT_NE(p.alteredMask() & ekPropagateBit, 0u);
    c.resetAltered();
    p.setAltered(ekGeneralBit);
    EXPECT_EQ(c.alteredMask(), 0u);  // told once since the last reset

    p.setEnabled(0);
    c.resetAltered();
    p.setAltered(ekGeneralBit);
    EXPECT_NE(c.anyAltered(), 0);  // a disabled link tells its children every time
    c.resetAltered();
    p.setAltered(ekGeneralBit);
    EXPECT_NE(c.anyAltered(), 0);
}

TEST_F(ResetTest, ControlBitsAndArgumentRules) {
    TestLink p, c;
    c.addParent(&p);
    clean(p);
    clean(c);
    EXPECT_EQ(p.setAltered(0), ekOkay);
    EXPECT_EQ(p.alteredMask(), 0u);

    EXPECT_EQ(p.setAltered(ekNoPropagateBit), ekOkay);
    EXPECT_EQ(p.alteredMask(), uint32_t(ekGeneralBit));  // itself only, no bit 30
    EXPECT_EQ(c.alteredMask(), 0u);
    clean(p);

    p.enableResetCallback(2);
    events.clear();
    EXPECT_EQ(p.setAltered(ekPropagateBit), ekOkay);
    EXPECT_EQ(p.alteredMask(), 0u);  // stays clean
    EXPECT_NE(p.isSet(ekGeneralBit), 0);
    EXPECT_EQ(c.alteredMask() & ekGeneralBit, uint32_t(ekGeneralBit));
    ASSERT_EQ(codes(), "a");
    EXPECT_EQ(events[0].link, &p);
    EXPECT_EQ(p.alterActions, 1);  // from ekNoPropagateBit; the propagate-only one left it

    // A bit that is not allowed changes nothing.
    const int setBefore = p.isSet(-1);
    EXPECT_EQ(p.setAltered(ekDataTypeBit | ekNoPropagateBit), ekNotAllowed);
    EXPECT_EQ(p.isSet(-1), setBefore);
    EXPECT_EQ(p.alteredMask(), 0u);
    p.setAllowed(ekDataTypeBit);
    EXPECT_EQ(p.setAltered(ekDataTypeBit), ekOkay);
    EXPECT_NE(p.isAltered(ekDataTypeBit), 0);
    EXPECT_NE(p.isSet(ekDataTypeBit), 0);
    p.clearSet(ekDataTypeBit);
    EXPECT_EQ(p.isSet(ekDataTypeBit), 0);
}

TEST_F(ResetTest, AlterActionRunsOnTheFirstAlterationOfACleanLinkOnly) {
    TestLink l;
    l.setAltered(ekGeneralBit);
    EXPECT_EQ(l.alterActions, 0);  // born altered
    clean(l);
    l.setAltered(ekGeneralBit);
    l.setAltered(ekGeneralBit | ekEnabledBit);
    EXPECT_EQ(l.alterActions, 1);
}

TEST_F(ResetTest, AlterationDuringOwnResetIsAbsorbed) {
    TestLink p, c;
    c.addParent(&p);
    clean(c);
    p.setAltered(ekGeneralBit);
    c.getStatus();
    p.onReset = [](TestLink& self) {
        EXPECT_NE(self.inProgress(), 0);
        EXPECT_EQ(self.setAltered(ekGeneralBit), ekOkay);
    };
    clean(c);
    p.setAltered(ekNoPropagateBit);
    p.getStatus();
    EXPECT_EQ(p.alteredMask(), 0u);  // cleared when the reset ended
    EXPECT_EQ(c.alteredMask(), 0u);  // and never passed on
    EXPECT_EQ(p.resets, 3);
}

TEST_F(ResetTest, StatusIsRecordedByResetAndReadBack) {
    TestLink l;
    l.onReset = [](TestLink& self) { self.setStatus(ekBadInput); };
    EXPECT_EQ(l.getStatus(), ekBadInput);
    l.onReset = nullptr;
    EXPECT_EQ(l.getStatus(), ekBadInput);  // clean: no reset, status kept
    l.clearStatus();
    EXPECT_EQ(l.getStatus(), ekOkay);
}

TEST_F(ResetTest, QueryComingBackDuringResetReturnsAtOnce) {
    TestLink l;
    l.onReset = [](TestLink& self) {
        EXPECT_EQ(self.getStatus(), ekOkay);
        EXPECT_EQ(self.getDepth(), 0);
    };
    l.getStatus();
    EXPECT_EQ(l.resets, 1);
}

TEST_F(ResetTest, CycleOfLinksResetsAndPropagatesWithoutHanging) {
    std::vector<std::string> log;
    TestLink x("x", &log), y("y", &log), z("z", &log);
    y.addParent(&x);
    z.addParent(&y);
    x.addParent(&z);  // x -> y -> z -> x
    x.getStatus();
    EXPECT_EQ(log, (std::vector<std::string>{"y", "z", "x"}));  // x waits for z, z for y
    EXPECT_EQ(x.setAltered(ekGeneralBit), ekOkay);
    for (TestLink* l : {&x, &y, &z}) EXPECT_NE(l->anyAltered(), 0);
    log.clear();
    y.getStatus();
    EXPECT_EQ(log.size(), 3u);
    TestLink self("self", &log);
    self.addParent(&self);
    EXPECT_GE(self.getDepth(), 0);
    self.setAltered(ekGeneralBit);
}

TEST_F(ResetTest, LoopOfDisabledLinksPropagatesAndResolvesWithoutHanging) {
    TestLink x, y, child;
    y.addParent(&x);
    x.addParent(&y);
    child.addParent(&x);
    x.setEnabled(0);
    y.setEnabled(0);
    EXPECT_EQ(x.setAltered(ekGeneralBit), ekOkay);
    EXPECT_NE(child.anyAltered(), 0);
    EXPECT_EQ(child.getParent(0), nullptr);  // no enabled link to show
    EXPECT_EQ(child.getDepth(), 0);
    // Three disabled links in a loop, entered from outside the loop.
    TestLink a, b, c, entry, viewer;
    b.addParent(&a);
    c.addParent(&b);
    a.addParent(&c);
    entry.addParent(&a);
    viewer.addParent(&entry);
    for (TestLink* l : {&a, &b, &c, &entry}) l->setEnabled(0);
    EXPECT_EQ(viewer.getParent(0), nullptr);
    EXPECT_EQ(viewer.getDepth(), 0);
}

}  // namespace
