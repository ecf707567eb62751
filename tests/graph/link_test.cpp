// SPDX-License-Identifier: Apache-2.0
// ekLink: building and tearing down the graph against a model (also when an
// entry cannot be allocated), the control bits of an alteration, what a reset
// does to itself, related children, callback events, and graphs long enough
// to exhaust a thread's stack if any walk recursed.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
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

// Records the callback events as a string of codes, and puts
// the library's statics back after each test.
class Graph : public ::testing::Test {
protected:
    void SetUp() override { ekLink::setResetCallback(&Graph::record, this); }
    void TearDown() override {
        ekLink::setResetCallback(saved, nullptr);
        ekLink::setResetCallbackDefaultEnabled(0, 0);
    }
    static void record(ekLink*, int code, void* arg) {
        static_cast<Graph*>(arg)->codes += static_cast<char>(code);
    }
    std::string codes, log;
    ekResetCallback saved = ekLink::getResetCallback();
};

// Eight links under random operations, loops and self-loops included,
// against a model of each link's entries, enabled state, disabled index and
// bypass flag, of which links are out of date, have told their children so
// or are being told, and of the resets and callback events that follow.
struct Model {
    struct Node {
        std::vector<std::pair<int, int>> parents;  // slot (-1: a null entry), input index
        std::vector<int> kids, seen;  // child entries in connection order; parents seen when reset
        bool enabled = true, bypass = false, dirty = true, told = false, telling = false;
        bool fresh = true;
        int disabledIndex = 0, depth = 0, alterActions = 0;
        int callbacks = 3;  // bit 0: events 'i' and 'd'; bit 1: 'a'
        ekStatus status = ekOkay;
    } n[8];
    std::string events;  // each reset's slot and 'i' or 'a'; 'a' in place; 'd'

    int direct(int i, int index) const {
        for (const auto& e : n[i].parents)
            if (e.second == index) return e.first;
        return -1;
    }
    // What link i sees of parent p: a disabled link shows its own parent at
    // its disabled index (as a bypassing link sees it); a loop shows none.
    int through(int i, int p) const {
        for (int steps = 0; !n[i].bypass && p >= 0 && !n[p].enabled; ++steps) {
            if (steps == 8) return -1;
            const int next = direct(p, n[p].disabledIndex);
            if (n[p].bypass) return next;
            p = next;
        }
        return p;
    }
    std::vector<int> sees(int i) const {
        std::vector<int> out;
        for (const auto& e : n[i].parents) out.push_back(through(i, e.first));
        return out;
    }
    void connect(int parent, int child) {
        if (parent >= 0) n[parent].kids.push_back(child);
    }
    void disconnect(int parent, int child) {  // the first child entry of that child goes
        if (parent < 0) return;
        auto& k = n[parent].kids;
        k.erase(std::find(k.begin(), k.end(), child));
    }
    // An enabled link that told its children since its last reset stops an
    // alteration: everything below it is out of date already.
    void alter(int i) {
        n[i].alterActions += !n[i].dirty;
        n[i].dirty = true;
        if (n[i].told && n[i].enabled) return;
        n[i].told = true;
        tell(i, false);
    }
    void tell(int i, bool enabledOnly) {  // each child entry, once around a loop
        if (n[i].telling) return;
        n[i].telling = true;
        for (int k = 0; k < 8; ++k)
            for (const auto& e : n[k].parents)
                if (e.first == i && !(enabledOnly && n[k].bypass)) alter(k);
        n[i].telling = false;
    }
    // Out-of-date parents first, in entry order; one in progress is skipped
    // and counts with the depth it had.
    void reset(int i) {
        n[i].dirty = false;
        int depth = 0;
        for (int p : sees(i)) {
            if (p >= 0 && n[p].dirty) reset(p);
            if (p >= 0) depth = std::max(depth, n[p].depth + 1);
        }
        n[i].depth = depth;
        n[i].told = false;
        n[i].seen = sees(i);
        events += char('0' + i);
        if (n[i].callbacks & (n[i].fresh ? 3 : 2)) events += n[i].fresh ? 'i' : 'a';
        n[i].fresh = false;
    }
    // The enabled state or the disabled index changed: children only.
    void alterInPlace(int i, bool enabledOnly) {
        const bool wasClean = !n[i].dirty;
        if (wasClean && (n[i].callbacks & 2)) events += 'a';
        n[i].told = n[i].told || n[i].dirty;
        tell(i, enabledOnly);
        if (enabledOnly && wasClean && n[i].dirty) tell(i, false);  // it is its own ancestor
    }
};

TEST_F(Graph, RandomOperationsMatchAModel) {
    ekLink::setResetCallbackDefaultEnabled(3, 0);
    ekLink::setResetCallback(
        [](ekLink* l, int code, void* arg) {
            *static_cast<std::string*>(arg) += char(code);
            if (code == 'd') {
                EXPECT_EQ(l->getNumParents() + l->getNumChildren(), 0);
            }
        },
        &log);
    std::mt19937 rng(20261207u);
    auto pick = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
    Model m;
    std::unique_ptr<TestLink> links[8];
    auto make = [&](int i) { links[i].reset(new TestLink(std::string(1, char('0' + i)), &log)); };
    for (int i = 0; i < 8; ++i) make(i);
    auto at = [&](int slot) -> ekLink* { return slot < 0 ? nullptr : links[slot].get(); };
    // Drawn first, a fault once found: a link in its own loop is disabled
    // under a child that bypasses (link, parent, index, operation).
    const int script[][4] = {{1, 1, 0, 0}, {2, 0, 0, 8}, {2, 1, 0, 0}, {2, 0, 0, 7}, {1, 0, 0, 4}};
    for (int round = 0; round < 10000; ++round) {
        int i = pick(0, 7), p = pick(-1, 7), index = pick(0, 3), op = pick(0, 8);
        // Now and then the operation's first or second allocation fails.
        const int fail = op <= 1 && pick(0, 9) == 0 ? pick(0, 1) : -1;
        if (round < 5) {
            const int* f = script[round];
            std::tie(i, p, index, op) = std::make_tuple(f[0], f[1], f[2], f[3]);
        }
        SCOPED_TRACE(testing::Message() << "round " << round << " op " << op);
        Model::Node& node = m.n[i];
        TestLink& l = *links[i];
        auto& entries = node.parents;
        auto first = [&](bool byLink, int v) {
            return std::find_if(entries.begin(), entries.end(),
                                [&](const auto& e) { return (byLink ? e.first : e.second) == v; });
        };
        log.clear();
        m.events.clear();
        [&] {  // an operation and its model
            if (op == 0) {
                failing_new::failAllocation(fail);
                l.addParent(at(p));  // always at index 0, beside any entry there
                failing_new::failAllocation(-1);
                if (fail >= 0 && fail <= (p >= 0)) {  // nothing changes; the status tells
                    node.status = ekNoMemory;
                    return;
                }
                entries.emplace_back(p, 0);
                m.connect(p, i);
                m.alter(i);
            } else if (op == 1) {  // the first entry of that index; the same link: nothing
                const auto e = first(false, index);
                failing_new::failAllocation(fail);
                const ekStatus s = l.setParent(at(p), index);
                failing_new::failAllocation(-1);
                const bool same = e != entries.end() && e->first == p;
                // A child entry on p and, for a new index, a parent entry.
                const int needed = same ? 0 : (p >= 0) + (e == entries.end());
                ASSERT_EQ(s, fail >= 0 && fail < needed ? ekNoMemory : ekOkay);
                if (same || s != ekOkay) return;
                if (e == entries.end())
                    entries.emplace_back(p, index);
                else
                    m.disconnect(std::exchange(e->first, p), i);
                m.connect(p, i);
                m.alter(i);
            } else if (op <= 3) {  // by input index, by link (a null entry too)
                const auto e = op == 2 ? first(false, index) : first(true, p);
                const ekStatus s = op == 2 ? l.removeParent(index) : l.removeParent(at(p));
                ASSERT_EQ(s, e == entries.end() ? ekBadIndex : ekOkay);
                if (e == entries.end()) return;
                m.disconnect(e->first, i);
                entries.erase(e);
                m.alter(i);
            } else if (op == 4) {  // enabling resets first; the same flag changes nothing
                l.setEnabled(index & 1);
                if (node.enabled == (index & 1)) return;
                node.enabled = index & 1;
                if (node.enabled && node.dirty) m.reset(i);
                m.alterInPlace(i, true);  // children that bypass need not know
            } else if (op == 5) {         // only a disabled link's children see the change
                l.setDisabledIndex(index);
                if (!node.enabled && index != node.disabledIndex) m.alterInPlace(i, false);
                node.disabledIndex = index;
            } else if (op == 6) {
                ASSERT_EQ(l.setAltered(ekGeneralBit), ekOkay);
                m.alter(i);
            } else if (op == 7) {
                if (node.dirty) m.reset(i);
                ASSERT_EQ(l.getDepth(), node.depth);
                ASSERT_EQ(l.getStatus(), node.status);  // a failed addParent recorded it
            } else {  // replaced: every entry on it goes and alters its link
                links[i].reset();
                for (int k = 0; k < 8; ++k) {
                    auto& ps = m.n[k].parents;
                    const size_t had = ps.size();
                    auto on = [&](const std::pair<int, int>& e) { return e.first == i; };
                    ps.erase(std::remove_if(ps.begin(), ps.end(), on), ps.end());
                    if (ps.size() != had) m.alter(k);
                }
                for (const auto& e : entries) m.disconnect(e.first, i);
                if (node.callbacks & 1) m.events += 'd';
                node = Model::Node();
                node.bypass = index == 0;
                node.callbacks = p & 7;
                make(i);
                links[i]->setRelatedType(-1, node.bypass);
                links[i]->enableResetCallback(node.callbacks);
            }
        }();
        ASSERT_EQ(log, m.events);
        for (int k = 0; k < 8; ++k) {
            SCOPED_TRACE(k);
            TestLink& t = *links[k];
            const Model::Node& want = m.n[k];
            ASSERT_EQ(t.getNumParents(), int(want.parents.size()));
            int lo = -1, hi = -1;
            for (const auto& e : want.parents) {
                lo = lo < 0 ? e.second : std::min(lo, e.second);
                hi = std::max(hi, e.second);
            }
            ASSERT_EQ(t.getMinIndex() * 10 + t.getMaxIndex(), lo * 10 + hi);
            for (int index = -1; index < 5; ++index) {
                ASSERT_EQ(t.getDirectParent(index), at(m.direct(k, index)));
                ASSERT_EQ(t.getParent(index), at(m.through(k, m.direct(k, index))));
            }
            ASSERT_EQ(t.getNumChildren(), int(want.kids.size()));
            for (int c = 0; c <= t.getNumChildren(); ++c)  // none one past the end
                ASSERT_EQ(t.getChild(c), at(c < int(want.kids.size()) ? want.kids[c] : -1));
            ASSERT_EQ(t.anyAltered() != 0, want.dirty);
            ASSERT_EQ(t.alterActions, want.alterActions);
            // A link that is up to date sees what it saw when it was reset.
            if (!want.dirty) {
                ASSERT_EQ(m.sees(k), want.seen);
            }
        }
    }
}

// What the model leaves out: the control bits, bits a class has not allowed,
// and the callback masks.
TEST_F(Graph, ControlBitsAndAllowedBits) {
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
    EXPECT_EQ(p.setAltered(ekDataTypeBit | ekNoPropagateBit), ekNotAllowed);
    EXPECT_EQ(p.isSet(ekDataTypeBit) | static_cast<int>(p.mask()), 0);
    p.setAllowed(ekDataTypeBit);
    EXPECT_EQ(p.setAltered(ekDataTypeBit), ekOkay);
    EXPECT_NE(p.isAltered(ekDataTypeBit) & p.isSet(ekDataTypeBit), 0);
    clean({&p, &c});
    p.setEnabled(0);  // recorded as set, though only the children are altered
    EXPECT_TRUE(p.isSet(ekEnabledBit) && p.mask() == 0u);
    p.clearAllowed(ekEnabledBit);
    p.setEnabled(1);  // not allowed: nothing
    EXPECT_EQ(p.isEnabled(), 0);
    c.clearAllowed(ekGeneralBit);  // the entry goes, then the alteration fails
    EXPECT_EQ(c.removeParent(&p), ekNotAllowed);
    EXPECT_TRUE(c.getNumParents() == 0 && p.getNumChildren() == 0);
    // Bit 31 is allowed (never reset) on a fresh link, yet a caller must not
    // set it: as the in-progress mark it would stop every later reset.
    TestLink fresh, child;
    EXPECT_EQ(fresh.setAltered(int(ekInProgressBit | ekGeneralBit)), ekNotAllowed);
    EXPECT_EQ(fresh.mask(), uint32_t(ekGeneralBit));
    child.addParent(&fresh);
    EXPECT_TRUE(child.getDepth() == 1 && fresh.resets == 1);
    ekLink::setResetCallbackDefaultEnabled(1, 1);  // applied to every live link
    EXPECT_TRUE(fresh.isResetCallbackEnabled(1) && !fresh.isResetCallbackEnabled(2));
    codes.clear();
    ekLink::setResetCallback(nullptr, nullptr);  // no function: no events at all
    auto* gone = new TestLink;
    gone->enableResetCallback(3);
    gone->getStatus();
    gone->setAltered(ekPropagateBit);
    delete gone;
    EXPECT_EQ(codes, "");
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

// Runs `body` on a thread whose stack is 8 MB, whatever the main thread has.
void onEightMegabyteStack(const std::function<void()>& body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 8u << 20);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// A chain of a million links and a fan-out of 100 000 children are altered,
// brought up to date and torn down without deep recursion or quadratic work.
TEST(LongGraph, ChainFanOutAndChainOfRelatedChildren) {
    onEightMegabyteStack([] {
        const int n = 1000000;
        std::vector<TestLink*> chain(n);
        for (int i = 0; i < n; ++i) {
            chain[i] = new TestLink;
            if (i > 0) chain[i]->addParent(chain[i - 1]);
        }
        EXPECT_EQ(chain[n - 1]->getDepth(), n - 1);  // resets the whole chain, root first
        EXPECT_EQ(chain[0]->resets + chain[n / 2]->resets + chain[n - 1]->resets, 3);
        chain[0]->setAltered(ekGeneralBit);  // marks every link down the chain
        EXPECT_EQ(chain[n - 1]->getStatus(), ekOkay);
        EXPECT_EQ(chain[n - 1]->resets, 2);
        for (int i = n - 1; i >= 0; --i) delete chain[i];  // leaf first: nothing is altered
        // A fan-out of 100 000 children deleted newest first, oldest first, shuffled.
        std::mt19937 rng(7u);
        for (int order = 0; order < 3; ++order) {
            auto* root = new TestLink;
            std::vector<TestLink*> children(n / 10);
            for (TestLink*& c : children) {
                c = new TestLink;
                c->addParent(root);
            }
            root->setAltered(ekGeneralBit);
            EXPECT_EQ(children.back()->getDepth() * 10 + root->resets, 11);
            if (order == 0) std::reverse(children.begin(), children.end());
            if (order == 2) std::shuffle(children.begin(), children.end(), rng);
            for (size_t i = 0; i < children.size(); ++i) {
                if (i == children.size() / 2) {
                    EXPECT_EQ(root->getNumChildren(), n / 20);
                }
                delete children[i];
            }
            EXPECT_EQ(root->getNumChildren(), 0);
            delete root;
        }
        // Destroying a link destroys its related children from within its
        // destructor, so a chain of related children, each owned by the one
        // before, is the one walk that still takes thread stack per link (the
        // order of destruction is part of the interface). The documented
        // limit is 20 000 on an 8 MB stack.
        ekLink* previous = chain[0] = new TestLink;
        for (int i = 1; i < 20000; ++i) {
            auto* link = new TestLink;
            link->addParent(previous);
            link->setRelatedType(1, 0);
            previous = link;
        }
        delete chain[0];  // destroys the whole chain
    });
}

}  // namespace
