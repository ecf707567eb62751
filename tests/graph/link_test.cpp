// ekLink: building the graph, queries, class identity and teardown.
#include "test_link.h"

namespace {

using LinkTest = GraphTest;

TEST_F(LinkTest, NewLinkIsAlteredEnabledOrdinaryAndIdentifiesAsLink) {
    TestLink l;
    EXPECT_EQ(l.alteredMask(), uint32_t(ekGeneralBit));
    EXPECT_EQ(l.isEnabled(), 1);
    EXPECT_EQ(l.getRelatedType(), -1);
    EXPECT_EQ(l.getRelatedDelete(), 0);
    EXPECT_EQ(l.getDisabledIndex(), 0);
    EXPECT_EQ(l.getNumParents(), 0);
    EXPECT_EQ(l.getNumChildren(), 0);
    EXPECT_EQ(l.unalterable(ekGeneralBit | ekEnabledBit), 0);
    EXPECT_EQ(l.unalterable(ekDataTypeBit), 1);
    EXPECT_STREQ(l.getClassName(0), "ekLink");
    EXPECT_EQ(l.getClassName(1), nullptr);
    EXPECT_EQ(l.derivesFrom(&ekLink::classList), 1);
    ekClassList unrelated = {"ekLink", nullptr};
    EXPECT_EQ(l.derivesFrom(&unrelated), 0);
    EXPECT_STREQ(l.getDefaultDescription(), "Link");
    EXPECT_EQ(ekLink::classList.parent, nullptr);
}

TEST_F(LinkTest, AddParentTwiceGivesTwoEntriesAtIndexZero) {
    TestLink p1, p2, c;
    c.addParent(&p1);
    c.addParent(&p2);
    EXPECT_EQ(c.getNumParents(), 2);
    EXPECT_EQ(c.getDirectParent(0), &p1);
    EXPECT_EQ(c.getMinIndex(), 0);
    EXPECT_EQ(c.getMaxIndex(), 0);
    EXPECT_EQ(p1.getChild(0), &c);
    EXPECT_EQ(p2.getChild(0), &c);
    EXPECT_EQ(p1.getChild(1), nullptr);
    c.addParent(nullptr);  // an empty slot still counts
    EXPECT_EQ(c.getNumParents(), 3);
}

TEST_F(LinkTest, SetParentReplacesFillsAndKeepsEmptySlots) {
    TestLink a, b, c;
    EXPECT_EQ(c.getMinIndex(), -1);
    EXPECT_EQ(c.getMaxIndex(), -1);
    EXPECT_EQ(c.setParent(&a, 3), ekOkay);
    EXPECT_EQ(c.setParent(nullptr, 1), ekOkay);
    EXPECT_EQ(c.getNumParents(), 2);
    EXPECT_EQ(c.getMinIndex(), 1);
    EXPECT_EQ(c.getMaxIndex(), 3);
    EXPECT_EQ(c.getDirectParent(1), nullptr);
    EXPECT_EQ(c.getDirectParent(3), &a);
    EXPECT_EQ(c.getDirectParent(2), nullptr);

    clean(a);
    clean(c);
    EXPECT_EQ(c.setParent(&a, 3), ekOkay);  // same parent: nothing happens
    EXPECT_EQ(c.anyAltered(), 0);
    EXPECT_EQ(a.getNumChildren(), 1);

    EXPECT_EQ(c.setParent(&b, 3), ekOkay);  // replaces a
    EXPECT_NE(c.anyAltered(), 0);
    EXPECT_EQ(a.getNumChildren(), 0);
    EXPECT_EQ(b.getChild(0), &c);
    EXPECT_EQ(c.getNumParents(), 2);
    EXPECT_EQ(c.setParent(&a, 1), ekOkay);  // fills the empty slot
    EXPECT_EQ(c.getDirectParent(1), &a);
    EXPECT_EQ(a.getChild(0), &c);
}

TEST_F(LinkTest, RemoveParentByIndexAndByLink) {
    TestLink a, b, c;
    c.setParent(&a, 0);
    c.setParent(&b, 2);
    EXPECT_EQ(c.removeParent(7), ekBadIndex);
    TestLink stranger;
    EXPECT_EQ(c.removeParent(&stranger), ekBadIndex);
    clean(c);
    EXPECT_EQ(c.removeParent(&a), ekOkay);
    EXPECT_NE(c.anyAltered(), 0);
    EXPECT_EQ(a.getNumChildren(), 0);
    EXPECT_EQ(c.getNumParents(), 1);
    EXPECT_EQ(c.removeParent(2), ekOkay);
    EXPECT_EQ(b.getNumChildren(), 0);
    EXPECT_EQ(c.getNumParents(), 0);
}

TEST_F(LinkTest, RemoveParentReportsNotAllowedAfterRemoving) {
    TestLink a, c;
    c.setParent(&a, 0);
    c.clearAllowed(ekGeneralBit);
    EXPECT_EQ(c.removeParent(0), ekNotAllowed);
    EXPECT_EQ(c.getNumParents(), 0);
    EXPECT_EQ(a.getNumChildren(), 0);
}

TEST_F(LinkTest, DestroyingAParentDetachesAndAltersChildren) {
    TestLink keep;
    auto* p = new TestLink;
    TestLink c1, c2, grandChild;
    c1.setParent(p, 0);
    c1.setParent(&keep, 1);
    c2.addParent(p);
    c2.addParent(p);
    grandChild.addParent(&c1);
    for (TestLink* l : {&c1, &c2, &grandChild}) clean(*l);
    delete p;
    EXPECT_EQ(c1.getNumParents(), 1);
    EXPECT_EQ(c1.getDirectParent(1), &keep);
    EXPECT_EQ(c2.getNumParents(), 0);
    EXPECT_EQ(keep.getNumChildren(), 1);
    EXPECT_NE(c1.anyAltered(), 0);
    EXPECT_NE(c2.anyAltered(), 0);
    EXPECT_NE(grandChild.anyAltered(), 0);
}

TEST_F(LinkTest, DestroyingAChildDetachesItFromItsParents) {
    TestLink p;
    auto* c = new TestLink;
    c->setParent(&p, 0);
    c->setParent(&p, 4);
    EXPECT_EQ(p.getNumChildren(), 2);
    delete c;
    EXPECT_EQ(p.getNumChildren(), 0);
}

TEST_F(LinkTest, DeletionIsReportedAfterDetaching) {
    TestLink p;
    auto* l = new TestLink;
    TestLink child;
    l->addParent(&p);
    child.addParent(l);
    l->enableResetCallback(1);
    int parentsSeen = -1, childrenSeen = -1;
    int* seen[2] = {&parentsSeen, &childrenSeen};
    ekLink::setResetCallback(
        [](ekLink* link, int code, void* arg) {
            if (code != 'd') return;
            auto* counts = static_cast<int**>(arg);
            *counts[0] = link->getNumParents();
            *counts[1] = link->getNumChildren();
        },
        seen);
    delete l;
    EXPECT_EQ(parentsSeen, 0);
    EXPECT_EQ(childrenSeen, 0);
}

TEST_F(LinkTest, DeletionEventNeedsEnableBitOne) {
    auto* a = new TestLink;
    auto* b = new TestLink;
    a->enableResetCallback(1);
    b->enableResetCallback(2);
    ekLink* aAddress = a;
    delete a;
    delete b;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, 'd');
    EXPECT_EQ(events[0].link, aAddress);
}

TEST_F(LinkTest, DefaultEnableMaskAppliesToNewAndOptionallyToLiveLinks) {
    TestLink before;
    ekLink::setResetCallbackDefaultEnabled(2, 0);
    EXPECT_EQ(ekLink::getResetCallbackDefaultEnabled(), 2);
    TestLink after;
    EXPECT_EQ(before.isResetCallbackEnabled(2), 0);
    EXPECT_EQ(after.isResetCallbackEnabled(2), 1);
    ekLink::setResetCallbackDefaultEnabled(1, 1);
    EXPECT_EQ(before.isResetCallbackEnabled(1), 1);
    EXPECT_EQ(after.isResetCallbackEnabled(1), 1);
    EXPECT_EQ(after.isResetCallbackEnabled(2), 0);
    {
        TestLink temporary;  // leaves the registry when destroyed
    }
    ekLink::setResetCallbackDefaultEnabled(0, 1);
    EXPECT_EQ(before.isResetCallbackEnabled(-1), 0);
}

TEST(LinkStatics, DefaultCallbackIsANoOpFunction) {
    // Before any test changes it: a function, not null, and the argument null.
    EXPECT_NE(ekLink::rcbFunc, nullptr);
    EXPECT_EQ(ekLink::rcbArg, nullptr);
    EXPECT_EQ(ekLink::getResetCallbackDefaultEnabled(), 0);
    ekLink::rcbFunc(nullptr, 'i', nullptr);
}

}  // namespace
