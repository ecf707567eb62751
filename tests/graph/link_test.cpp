// SPDX-License-Identifier: Apache-2.0
// ekLink: building and tearing down the graph (also when an entry cannot be
// allocated), alteration and the lazy reset (order, re-entry, cycles),
// enabling, related children and callback events.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "eks/graph.h"
#include "failing_new.h"

namespace {

// A link that logs its resets by name and exposes the protected operations.
class TestLink : public ekLink {
public:
    explicit TestLink(std::string n = "", std::string* log = nullptr) : name(n), resetLog(log) {}
    ~TestLink() override {
        if (destroyed) *destroyed = true;
    }
    using ekLink::anyAltered;
    using ekLink::clearAllowed;
    using ekLink::getMaxIndex;
    using ekLink::getMinIndex;
    using ekLink::inProgress;
    using ekLink::isAltered;
    using ekLink::isSet;
    using ekLink::resetAltered;
    using ekLink::setAllowed;
    using ekLink::setAltered;
    using ekLink::setStatus;
    uint32_t mask() const { return static_cast<uint32_t>(isAltered(-1)); }

    std::string name;
    std::string* resetLog;
    std::function<void(TestLink&)> onReset;  // runs inside reset()
    bool* destroyed = nullptr;
    int resets = 0, alterActions = 0;

protected:
    void reset() override {
        ++resets;
        if (resetLog) *resetLog += name;
        if (onReset) onReset(*this);
        ekLink::reset();
    }
    void alterAction() override { ++alterActions; }
};

void clean(std::initializer_list<TestLink*> links) {
    for (TestLink* l : links) l->getStatus();
}

// Records the callback events as a string of codes with their links, and puts
// the library's statics back after each test.
class Graph : public ::testing::Test {
protected:
    void SetUp() override { ekLink::setResetCallback(&Graph::record, this); }
    void TearDown() override {
        ekLink::setResetCallback(saved, nullptr);
        ekLink::setResetCallbackDefaultEnabled(0, 0);
    }
    static void record(ekLink* link, int code, void* arg) {
        static_cast<Graph*>(arg)->codes += static_cast<char>(code);
        static_cast<Graph*>(arg)->links.push_back(link);
    }
    std::string codes, log;
    std::vector<ekLink*> links;
    ekResetCallback saved = ekLink::getResetCallback();
};

TEST_F(Graph, ParentEntriesAndTheirChildEntries) {
    TestLink a, b, c;
    c.addParent(&a);
    c.addParent(&b);  // a second entry at index 0
    EXPECT_TRUE(c.getDirectParent(0) == &a && a.getChild(0) == &c && b.getChild(0) == &c);
    EXPECT_EQ(c.removeParent(&b), ekOkay);
    EXPECT_EQ(c.setParent(nullptr, 1), ekOkay);  // an empty slot that still counts
    EXPECT_EQ(c.getNumParents(), 2);
    clean({&a, &c});
    EXPECT_EQ(c.setParent(&a, 0), ekOkay);  // same parent: nothing happens
    EXPECT_EQ(c.anyAltered(), 0);
    EXPECT_EQ(c.setParent(&b, 0), ekOkay);  // replaces a in its entry
    EXPECT_NE(c.anyAltered(), 0);
    EXPECT_TRUE(a.getNumChildren() == 0 && b.getChild(0) == &c);
    EXPECT_EQ(c.setParent(&a, 1), ekOkay);  // fills the empty slot
    EXPECT_EQ(c.getDirectParent(1), &a);
    TestLink stranger;
    EXPECT_EQ(c.removeParent(7), ekBadIndex);
    EXPECT_EQ(c.removeParent(&stranger), ekBadIndex);
    c.clearAllowed(ekGeneralBit);  // the entry goes, then the alteration fails
    EXPECT_EQ(c.removeParent(1), ekNotAllowed);
    EXPECT_TRUE(c.getNumParents() == 1 && a.getNumChildren() == 0);
    TestLink d;  // the extreme indices need not be at either end of the list
    EXPECT_EQ(d.getMinIndex() + d.getMaxIndex(), -2);
    for (int index : {3, 1, 5, 2}) d.setParent(&a, index);
    EXPECT_EQ(d.getMinIndex() * 10 + d.getMaxIndex(), 15);
}

TEST_F(Graph, DestroyingALinkDetachesAndAltersEveryNeighbour) {
    TestLink keep, c1, c2, grandChild, parent;
    auto* p = new TestLink;
    c1.setParent(p, 0);
    c1.setParent(&keep, 1);
    c2.addParent(p);
    c2.addParent(p);
    grandChild.addParent(&c1);
    p->addParent(&parent);
    p->enableResetCallback(1);
    int seen = -1;  // neighbours the link still had when its deletion was reported
    ekLink::setResetCallback(
        [](ekLink* l, int code, void* arg) {
            if (code == 'd') *static_cast<int*>(arg) = l->getNumParents() + l->getNumChildren();
        },
        &seen);
    clean({&c1, &c2, &grandChild});
    delete p;
    EXPECT_EQ(seen, 0);
    EXPECT_TRUE(c1.getNumParents() == 1 && c1.getDirectParent(1) == &keep);
    EXPECT_TRUE(c2.getNumParents() == 0 && parent.getNumChildren() == 0);
    for (TestLink* l : {&c1, &c2, &grandChild}) EXPECT_NE(l->anyAltered(), 0);
}

TEST_F(Graph, ChainAndDiamondResetParentsFirstInParentListOrder) {
    // a -> b, a -> c, {c, b, e} -> d in that input order.
    TestLink a("a", &log), b("b", &log), c("c", &log), d("d", &log), e("e", &log);
    b.addParent(&a);
    c.addParent(&a);
    d.setParent(&c, 0);
    d.setParent(&b, 1);
    d.setParent(&e, 2);
    EXPECT_EQ(d.getDepth() + b.getDepth(), 3);
    EXPECT_EQ(log, "acbed");
    log.clear();
    EXPECT_EQ(a.setAltered(ekGeneralBit), ekOkay);
    for (TestLink* l : {&b, &c, &d}) EXPECT_NE(l->anyAltered(), 0);
    d.resetAltered();  // forget the mark: a second alteration must not visit again
    a.setAltered(ekGeneralBit);
    EXPECT_EQ(d.mask(), 0u);
    d.setAltered(ekGeneralBit);
    d.getStatus();
    d.getStatus();  // clean: no second reset
    EXPECT_TRUE(log == "acbd" && d.resets == 2);
}

TEST_F(Graph, CallbackEvents) {
    ekLink::setResetCallbackDefaultEnabled(2, 0);
    TestLink a, b, c;
    b.addParent(&a);
    c.addParent(&b);
    c.getStatus();
    a.setAltered(ekGeneralBit);  // an ordinary alteration is reported by the reset
    EXPECT_EQ(codes, "iii");
    c.getStatus();
    EXPECT_EQ(codes, "iiiaaa");
    EXPECT_EQ(links, (std::vector<ekLink*>{&a, &b, &c, &a, &b, &c}));
    codes.clear();
    TestLink one, other;
    one.enableResetCallback(1);    // first reset and deletion only
    other.enableResetCallback(4);  // no bit of 3: nothing
    clean({&one, &other});
    one.setAltered(ekGeneralBit);
    one.setAltered(ekPropagateBit);
    clean({&one});
    EXPECT_EQ(codes, "i");
    ekLink::setResetCallbackDefaultEnabled(1, 1);  // applied to every live link
    EXPECT_TRUE(a.isResetCallbackEnabled(1) && !a.isResetCallbackEnabled(2));
    codes.clear();
    ekLink::setResetCallback(nullptr, nullptr);  // no function: no events at all
    auto* gone = new TestLink;
    gone->enableResetCallback(3);
    gone->getStatus();
    gone->setAltered(ekPropagateBit);
    delete gone;
    EXPECT_EQ(codes, "");
}

TEST_F(Graph, ControlBitsOfSetAltered) {
    TestLink p, c;
    c.addParent(&p);
    clean({&p, &c});
    EXPECT_EQ(p.setAltered(0), ekOkay);
    EXPECT_EQ(p.mask(), 0u);
    EXPECT_EQ(p.setAltered(ekNoPropagateBit), ekOkay);  // itself only, as general
    EXPECT_TRUE(p.mask() == uint32_t(ekGeneralBit) && c.mask() == 0u);
    clean({&p});
    p.enableResetCallback(2);
    EXPECT_EQ(p.setAltered(ekPropagateBit), ekOkay);  // the children only
    EXPECT_TRUE(p.mask() == 0u && p.isSet(ekGeneralBit) && c.isAltered(ekGeneralBit));
    EXPECT_EQ(codes, "a");
    EXPECT_EQ(p.alterActions, 1);  // the first alteration of a clean link only
    p.setAltered(ekGeneralBit);
    p.setAltered(ekGeneralBit);
    EXPECT_EQ(p.alterActions, 2);
    clean({&p});
    EXPECT_EQ(p.setAltered(ekDataTypeBit | ekNoPropagateBit), ekNotAllowed);
    EXPECT_EQ(p.isSet(ekDataTypeBit) | static_cast<int>(p.mask()), 0);
    p.setAllowed(ekDataTypeBit);
    EXPECT_EQ(p.setAltered(ekDataTypeBit), ekOkay);
    EXPECT_NE(p.isAltered(ekDataTypeBit) & p.isSet(ekDataTypeBit), 0);
    p.setEnabled(0);  // a disabled link tells its children every time
    for (int round = 0; round < 2; ++round) {
        c.resetAltered();
        p.setAltered(ekGeneralBit);
        EXPECT_NE(c.anyAltered(), 0);
    }
    // Bit 31 is allowed (never reset) on a fresh link, yet a caller must not
    // set it: as the in-progress mark it would stop every later reset.
    TestLink fresh, child;
    EXPECT_EQ(fresh.setAltered(int(ekInProgressBit | ekGeneralBit)), ekNotAllowed);
    EXPECT_EQ(fresh.mask(), uint32_t(ekGeneralBit));
    child.addParent(&fresh);
    EXPECT_TRUE(child.getDepth() == 1 && fresh.resets == 1);
    fresh.setAltered(ekGeneralBit);
    fresh.setAltered(ekGeneralBit);
    EXPECT_EQ(child.alterActions, 1);  // reached through the parent, while clean only
}

TEST_F(Graph, WhatHappensDuringAResetStaysInIt) {
    TestLink p, c;
    c.addParent(&p);
    p.onReset = [](TestLink& self) {
        EXPECT_NE(self.inProgress(), 0);
        EXPECT_EQ(self.setAltered(ekGeneralBit), ekOkay);  // absorbed
        const int before = self.resets;
        self.getStatus();  // re-entry returns at once
        EXPECT_EQ(self.resets, before);
        self.setStatus(ekBadInput);
    };
    clean({&p, &c});
    p.setAltered(ekNoPropagateBit);
    EXPECT_EQ(p.getStatus(), ekBadInput);
    EXPECT_TRUE(p.mask() == 0u && c.mask() == 0u);  // cleared when it ended, never passed on
    EXPECT_EQ(p.resets, 2);
    EXPECT_EQ(p.getStatus(), ekBadInput);  // clean: no reset, status kept
    p.clearStatus();
    EXPECT_EQ(p.getStatus(), ekOkay);
}

TEST_F(Graph, CyclesResetAndPropagateWithoutHanging) {
    TestLink x("x", &log), y("y", &log), z("z", &log), self;
    y.addParent(&x);
    z.addParent(&y);
    x.addParent(&z);
    x.getStatus();
    EXPECT_EQ(log, "yzx");  // x waits for z, z for y
    EXPECT_EQ(x.setAltered(ekGeneralBit), ekOkay);
    for (TestLink* l : {&x, &y, &z}) EXPECT_NE(l->anyAltered(), 0);
    y.getStatus();
    EXPECT_EQ(log.size(), 6u);
    self.addParent(&self);
    EXPECT_GE(self.getDepth(), 0);
    // Disabled links in a loop, entered from outside: no parent to show.
    TestLink a, b, d, entry, viewer;
    b.addParent(&a);
    d.addParent(&b);
    a.addParent(&d);
    entry.addParent(&a);
    viewer.addParent(&entry);
    for (TestLink* l : {&a, &b, &d, &entry}) l->setEnabled(0);
    a.setAltered(ekGeneralBit);
    EXPECT_TRUE(viewer.getParent(0) == nullptr && viewer.getDepth() == 0);
}

TEST_F(Graph, DisabledLinksAreSeenThroughUnlessBypassed) {
    TestLink a, b, d1("d1", &log), d2, viewer, bypass;
    d1.setParent(&a, 0);
    d1.setParent(&b, 1);
    d2.addParent(&d1);
    viewer.addParent(&d2);
    bypass.addParent(&d1);
    bypass.setRelatedType(-1, 1);  // an ordinary child that bypasses
    clean({&viewer, &bypass});
    d1.setEnabled(0);
    EXPECT_TRUE(d1.mask() == 0u && d1.isSet(ekEnabledBit));  // not altered, but recorded as set
    EXPECT_TRUE(bypass.mask() == 0u && bypass.getParent(0) == &d1);
    EXPECT_EQ(viewer.getDepth(), 2);
    d2.setEnabled(0);
    EXPECT_TRUE(viewer.getParent(0) == &a && viewer.getDepth() == 1);
    clean({&viewer});
    d1.setDisabledIndex(1);  // disabled: the children re-resolve
    EXPECT_TRUE(viewer.anyAltered() && viewer.getParent(0) == &b);
    d1.setDisabledIndex(5);
    EXPECT_EQ(viewer.getParent(0), nullptr);
    d2.setRelatedType(-1, 1);  // a bypassing link stops the walk at its own parent
    EXPECT_EQ(viewer.getParent(0), &d1);
    d1.setAltered(ekGeneralBit);
    log.clear();
    d1.setEnabled(1);  // enabling resets first
    EXPECT_EQ(log, "d1");
    clean({&viewer});
    d1.setEnabled(1);        // same flag: nothing
    d1.setDisabledIndex(0);  // enabled: nobody needs to know
    d1.clearAllowed(ekEnabledBit);
    d1.setEnabled(0);  // not allowed: nothing
    EXPECT_TRUE(d1.isEnabled() == 1 && viewer.mask() == 0u);
}

// A link that is its own parent sees itself differently once disabled: the
// loop disappears from its view, its depth drops, and a child that sees
// through disabled links must learn that too.
TEST_F(Graph, DisablingALinkInItsOwnLoopTellsBypassingChildren) {
    TestLink self, bypass;
    self.addParent(&self);
    bypass.setRelatedType(-1, 1);
    bypass.addParent(&self);
    clean({&bypass});
    self.setEnabled(0);
    EXPECT_NE(bypass.anyAltered(), 0);
    EXPECT_TRUE(self.getDepth() == 0 && bypass.getDepth() == 1);
}

TEST_F(Graph, RelatedChildrenAreOwnedByTheirParent) {
    bool gone[5] = {};
    auto* p = new TestLink("p");
    p->getStatus();  // connecting children does not alter it again
    TestLink ordinary;
    std::vector<TestLink*> rel;
    for (int i = 0; i < 5; ++i) {
        rel.push_back(new TestLink);
        rel[i]->destroyed = &gone[i];
        rel[i]->setRelatedType(i < 2 ? 1 : i, 0);  // typed before connecting: replaces nobody
        rel[i]->addParent(p);
    }
    ordinary.addParent(p);
    ordinary.setRelatedDelete(1);  // ordinary children are never destroyed
    for (int i : {0, 1, 2}) rel[i]->setRelatedDelete(1);
    // A related child in its own reset survives the parent reset it causes.
    p->setAltered(ekGeneralBit);
    rel[2]->getStatus();
    EXPECT_FALSE(gone[2]);
    EXPECT_TRUE(gone[0] && gone[1]);  // adjacent: the same position is examined again
    p->setAltered(ekGeneralBit);
    p->getStatus();
    EXPECT_TRUE(gone[2]);
    EXPECT_EQ(p->getRelatedChild(3), rel[3]);
    rel[4]->setRelatedType(3, 0);  // replaces its sibling of that type only
    EXPECT_TRUE(gone[3] && !gone[4]);
    rel[4]->setRelatedType(-1, 0);  // ordinary again: destroys no ordinary sibling
    EXPECT_EQ(p->getNumChildren(), 2);
    rel[4]->setRelatedType(5, 0);
    delete p;  // destroys its related children, detaches the others
    EXPECT_TRUE(gone[4] && ordinary.getNumParents() == 0);
    // Each other's related child: deleting one destroys the other once, and
    // also when the reset of one destroys the other.
    for (bool byReset : {false, true}) {
        bool goneA = false, goneB = false;
        auto* a = new TestLink;
        auto* b = new TestLink;
        a->destroyed = &goneA;
        b->destroyed = &goneB;
        a->addParent(b);
        b->addParent(a);
        a->setRelatedType(1, 0);
        b->setRelatedType(1, 0);
        b->setRelatedDelete(1);
        if (byReset) {
            a->getStatus();  // destroys b; a survives, as it is resetting
            EXPECT_TRUE(goneB && !goneA);
            EXPECT_EQ(a->getNumParents() + a->getNumChildren(), 0);
        }
        delete a;
        EXPECT_TRUE(goneA && goneB);
    }
    auto* self = new TestLink;  // its own related child: not destroyed twice
    self->addParent(self);
    self->setRelatedType(1, 0);
    self->setRelatedDelete(1);
    self->setAltered(ekGeneralBit);
    self->getStatus();
    delete self;
}

TEST(GraphNoMemory, AnEntryThatCannotBeHadLeavesBothListsAlone) {
    ekLink parent, child;
    EXPECT_EQ(child.getStatus(), ekOkay);
    for (int n : {0, 1}) {  // the parent's entry, then the child entry on the parent
        failing_new::failAllocation(n);
        EXPECT_EQ(child.setParent(&parent, 3), ekNoMemory) << n;
        failing_new::failAllocation(n);
        child.addParent(&parent);
        EXPECT_EQ(child.getNumParents() + parent.getNumChildren(), 0) << n;
    }
    failing_new::failAllocation(-1);
    EXPECT_EQ(child.getStatus(), ekNoMemory);  // recorded by addParent
}

}  // namespace
