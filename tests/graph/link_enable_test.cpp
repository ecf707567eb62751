// ekLink: disabled links seen through, the bypass flag, related children.
#include "test_link.h"

namespace {

using EnableTest = GraphTest;

// x -> y -> z, all clean.
struct Chain {
    Chain() {
        y.addParent(&x);
        z.addParent(&y);
        for (TestLink* l : {&x, &y, &z}) clean(*l);
    }
    TestLink x{"x"}, y{"y"}, z{"z"};
};

TEST_F(EnableTest, DisabledLinkShowsItsParentAndAltersItsChildren) {
    Chain g;
    g.y.setEnabled(0);
    EXPECT_EQ(g.y.isEnabled(), 0);
    EXPECT_EQ(g.y.alteredMask(), 0u);  // not altered itself
    EXPECT_NE(g.y.isSet(ekEnabledBit), 0);
    EXPECT_NE(g.z.anyAltered(), 0);
    EXPECT_EQ(g.z.getParent(0), &g.x);
    EXPECT_EQ(g.z.getDirectParent(0), &g.y);
    EXPECT_EQ(g.z.getDepth(), 1);
    g.y.setEnabled(1);
    EXPECT_EQ(g.z.getParent(0), &g.y);
    EXPECT_EQ(g.z.getDepth(), 2);
}

TEST_F(EnableTest, EnablingResetsTheLinkFirst) {
    Chain g;
    g.y.setEnabled(0);
    g.y.setAltered(ekGeneralBit);
    const int before = g.y.resets;
    g.y.setEnabled(1);
    EXPECT_EQ(g.y.resets, before + 1);
    EXPECT_EQ(g.y.alteredMask(), 0u);
}

TEST_F(EnableTest, SameFlagOrUnalterableEnabledChangesNothing) {
    Chain g;
    g.y.setEnabled(1);
    EXPECT_EQ(g.z.alteredMask(), 0u);
    EXPECT_EQ(g.y.isSet(ekEnabledBit), 0);
    g.y.clearAllowed(ekEnabledBit);
    g.y.setEnabled(0);
    EXPECT_EQ(g.y.isEnabled(), 1);
    EXPECT_EQ(g.z.alteredMask(), 0u);
}

TEST_F(EnableTest, BypassingChildSeesTheDisabledLinkAndIsNotAltered) {
    Chain g;
    TestLink w("w");
    w.addParent(&g.y);
    w.setRelatedType(-1, 1);  // ordinary child that bypasses disabled parents
    clean(w);
    g.y.setEnabled(0);
    EXPECT_EQ(w.alteredMask(), 0u);
    EXPECT_NE(g.z.anyAltered(), 0);
    EXPECT_EQ(w.getParent(0), &g.y);
    // Any other alteration still reaches it.
    g.y.setAltered(ekGeneralBit);
    EXPECT_NE(w.anyAltered(), 0);
}

TEST_F(EnableTest, ChainsOfDisabledLinksAndDisabledIndex) {
    TestLink a("a"), b("b"), d1("d1"), d2("d2"), viewer("v");
    d1.setParent(&a, 0);
    d1.setParent(&b, 1);
    d2.addParent(&d1);
    viewer.addParent(&d2);
    d1.setEnabled(0);
    d2.setEnabled(0);
    EXPECT_EQ(viewer.getParent(0), &a);
    clean(viewer);
    d1.setDisabledIndex(1);  // disabled: the children re-resolve
    EXPECT_EQ(d1.getDisabledIndex(), 1);
    EXPECT_NE(viewer.anyAltered(), 0);
    EXPECT_EQ(viewer.getParent(0), &b);
    d1.setDisabledIndex(5);  // no input there: nothing to see
    EXPECT_EQ(viewer.getParent(0), nullptr);
    // A bypassing link in the chain stops the walk at its own parent.
    d2.setRelatedType(-1, 1);
    EXPECT_EQ(viewer.getParent(0), &d1);
    d2.setRelatedType(-1, 0);
    d1.setEnabled(1);
    clean(viewer);
    d1.setDisabledIndex(0);  // enabled: nobody needs to know
    EXPECT_EQ(viewer.alteredMask(), 0u);
}

TEST_F(EnableTest, RelatedChildWithDeleteFlagIsDestroyedAtParentReset) {
    TestLink p("p");
    bool goneA = false, goneB = false, goneKept = false;
    auto* a = new TestLink("a");
    auto* b = new TestLink("b");
    auto* kept = new TestLink("kept");
    TestLink ordinary("ordinary");
    for (TestLink* c : {a, b, kept}) c->addParent(&p);
    ordinary.addParent(&p);
    a->destroyed = &goneA;
    b->destroyed = &goneB;
    kept->destroyed = &goneKept;
    a->setRelatedType(1, 0);
    b->setRelatedType(2, 0);
    kept->setRelatedType(3, 0);
    ordinary.setRelatedDelete(1);  // ordinary children are never destroyed
    a->setRelatedDelete(1);
    b->setRelatedDelete(1);
    EXPECT_EQ(a->getRelatedDelete(), 1);
    EXPECT_EQ(p.getRelatedChild(2), b);
    EXPECT_EQ(p.getRelatedChild(7), nullptr);
    p.setAltered(ekGeneralBit);
    p.getStatus();
    EXPECT_TRUE(goneA);  // adjacent: both found by re-examining the position
    EXPECT_TRUE(goneB);
    EXPECT_FALSE(goneKept);
    EXPECT_EQ(p.getNumChildren(), 2);
    EXPECT_EQ(p.getRelatedChild(3), kept);
    EXPECT_NE(ordinary.anyAltered(), 0);
    p.deleteRelated(1);
    EXPECT_TRUE(goneKept);
    EXPECT_EQ(p.getChild(0), &ordinary);
}

TEST_F(EnableTest, RelatedChildInItsOwnResetSurvivesTheParentReset) {
    TestLink p("p");
    clean(p);  // connecting a child does not alter the parent
    bool gone = false;
    auto* r = new TestLink("r");
    r->addParent(&p);
    r->setRelatedType(1, 0);
    r->setRelatedDelete(1);
    r->destroyed = &gone;
    p.setAltered(ekGeneralBit);
    r->getStatus();  // r's reset asks p, whose reset must spare r
    EXPECT_FALSE(gone);
    p.setAltered(ekGeneralBit);
    p.getStatus();
    EXPECT_TRUE(gone);
}

TEST_F(EnableTest, DestructorDestroysRelatedChildren) {
    auto* p = new TestLink("p");
    bool gone = false;
    auto* r = new TestLink("r");
    TestLink ordinary;
    r->addParent(p);
    ordinary.addParent(p);
    r->setRelatedType(4, 0);
    r->destroyed = &gone;
    delete p;
    EXPECT_TRUE(gone);
    EXPECT_EQ(ordinary.getNumParents(), 0);
}

TEST_F(EnableTest, SetRelatedTypeReplacesSiblingsOfTheSameTypeOnly) {
    TestLink p("p");
    bool gone1 = false, gone2 = false, goneOther = false;
    auto* s1 = new TestLink("s1");
    auto* s2 = new TestLink("s2");
    auto* other = new TestLink("other");
    TestLink plain1, plain2, fresh;
    s1->destroyed = &gone1;
    s2->destroyed = &gone2;
    other->destroyed = &goneOther;
    // Typed before they are connected: no parent, nobody to replace.
    s1->setRelatedType(5, 0);
    s2->setRelatedType(5, 0);
    other->setRelatedType(6, 0);
    for (TestLink* c : {s1, s2, other, &plain1, &plain2, &fresh}) c->addParent(&p);
    fresh.setRelatedType(-1, 0);  // ordinary: destroys none of the ordinary siblings
    EXPECT_EQ(p.getNumChildren(), 6);
    fresh.setRelatedType(5, 0);
    EXPECT_TRUE(gone1);
    EXPECT_TRUE(gone2);
    EXPECT_FALSE(goneOther);
    EXPECT_EQ(p.getNumChildren(), 4);
    EXPECT_EQ(p.getRelatedChild(5), &fresh);
    fresh.setRelatedType(-1, 0);
    delete other;
}

TEST_F(EnableTest, LinkThatIsItsOwnRelatedChildIsNotDestroyedTwice) {
    auto* l = new TestLink("self");
    l->addParent(l);
    l->setRelatedType(1, 0);
    l->setRelatedDelete(1);
    l->setAltered(ekGeneralBit);
    l->getStatus();
    delete l;  // would destroy itself from its own destructor
}

}  // namespace
