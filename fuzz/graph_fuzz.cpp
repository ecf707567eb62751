// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the operator graph. The input is a program of graph operations
// on a pool of links (connecting, disconnecting, enabling, disabling, related
// children, alterations, queries, deletions). A model of every link's parent
// and child lists is kept beside the real graph; after each operation the
// graph must match it, no link may be left with a reset in progress, and a
// link brought up to date in an acyclic part of the graph must have the depth
// the model gives. Deletions that the library makes itself (related children)
// are seen through the links' destructors.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "eks/graph.h"
#include "fuzz/fuzz_input.h"

namespace {

constexpr int kSlots = 10;
constexpr int kIndices = 4;  // input indices used: 0 .. 3

class FuzzLink;
FuzzLink* slots[kSlots];
// Depths are checked until a reset changes the graph under a running walk: a
// reset that asks another link for its status (which may then reset against
// an ancestor whose own reset is still waiting: the re-entry rule), or one
// that destroys related children. Depths may be stale after that.
bool depthsMayBeStale = false;

class FuzzLink : public ekLink {
public:
    explicit FuzzLink(int s) : slot(s) { slots[s] = this; }
    ~FuzzLink() override { slots[slot] = nullptr; }
    using ekLink::clearAllowed;
    using ekLink::getMaxIndex;
    using ekLink::getMinIndex;
    using ekLink::inProgress;
    using ekLink::markSet;
    using ekLink::setAllowed;
    using ekLink::setAltered;
    using ekLink::setStatus;

    int slot;
    int queryDuringReset = -1;  // slot whose status the reset asks for; -1 none
    bool alterDuringReset = false;

protected:
    void reset() override {
        if (queryDuringReset >= 0 && slots[queryDuringReset] != nullptr) {
            depthsMayBeStale = true;
            slots[queryDuringReset]->getStatus();
        }
        if (alterDuringReset) setAltered(ekGeneralBit);  // absorbed by the reset
        ekLink::reset();
    }
};

// The model: per slot, the parent entries (slot or -1 for none, input index)
// in list order, and the child entries (slots) in list order.
struct Entry {
    int parent;
    int index;
};
struct Node {
    bool live = false;
    std::vector<Entry> parents;
    std::vector<int> children;
    bool enabled = true;
    bool bypass = false;
    int disabledIndex = 0;
};
Node model[kSlots];

void eraseFirst(std::vector<int>& v, int value) {
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i] == value) {
            v.erase(v.begin() + long(i));
            return;
        }
}

// Drops from the model every link whose object the library destroyed.
void forgetDeadLinks() {
    for (int s = 0; s < kSlots; ++s) {
        if (!model[s].live || slots[s] != nullptr) continue;
        model[s] = Node();
        for (Node& n : model) {
            std::vector<Entry> kept;
            for (const Entry& e : n.parents)
                if (e.parent != s) kept.push_back(e);
            n.parents = kept;
            std::vector<int> children;
            for (int c : n.children)
                if (c != s) children.push_back(c);
            n.children = children;
        }
    }
}

int firstEntry(const Node& n, int index) {
    for (size_t i = 0; i < n.parents.size(); ++i)
        if (n.parents[i].index == index) return int(i);
    return -1;
}

void connect(int child, int parent, int index, bool append) {
    Node& c = model[child];
    const int at = append ? -1 : firstEntry(c, index);
    if (at >= 0) {
        if (c.parents[size_t(at)].parent == parent) return;
        const int old = c.parents[size_t(at)].parent;
        c.parents[size_t(at)].parent = parent;
        if (old >= 0) eraseFirst(model[old].children, child);
    } else {
        c.parents.push_back({parent, append ? 0 : index});
    }
    if (parent >= 0) model[parent].children.push_back(child);
}

ekStatus disconnect(int child, size_t at) {
    Node& c = model[child];
    if (at >= c.parents.size()) return ekBadIndex;
    const int parent = c.parents[at].parent;
    c.parents.erase(c.parents.begin() + long(at));
    if (parent >= 0) eraseFirst(model[parent].children, child);
    return ekOkay;
}

// The parent a link sees in place of `p`, following disabled links in the
// model; -1 for none (also for a loop of disabled links).
int effective(int viewer, int p) {
    if (model[viewer].bypass) return p;
    for (int steps = 0; p >= 0 && !model[p].enabled; ++steps) {
        if (steps > kSlots) return -1;
        const Node& d = model[p];
        const int at = firstEntry(d, d.disabledIndex);
        const int next = at < 0 ? -1 : d.parents[size_t(at)].parent;
        if (d.bypass) return next;
        p = next;
    }
    return p;
}

// Depth of slot s from the model; -1 when a loop is reachable.
int modelDepth(int s, int* state, int* memo) {
    if (state[s] == 1) return -1;
    if (state[s] == 2) return memo[s];
    state[s] = 1;
    int depth = 0;
    for (const Entry& e : model[s].parents) {
        const int p = effective(s, e.parent);
        if (p < 0) continue;
        const int d = modelDepth(p, state, memo);
        if (d < 0) return -1;
        if (d + 1 > depth) depth = d + 1;
    }
    state[s] = 2;
    return memo[s] = depth;
}

// An invariant that failed names itself and stops the run.
#define check(condition)                                                                         \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "graph_fuzz.cpp:%d: check failed: %s\n", __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

void checkGraph() {
    for (int s = 0; s < kSlots; ++s) {
        FuzzLink* link = slots[s];
        check(model[s].live == (link != nullptr));
        if (link == nullptr) continue;
        const Node& n = model[s];
        check(!link->inProgress());
        check(link->getNumParents() == int(n.parents.size()));
        check(link->getNumChildren() == int(n.children.size()));
        for (int i = 0; i < kIndices; ++i) {
            const int at = firstEntry(n, i);
            const int p = at < 0 ? -1 : n.parents[size_t(at)].parent;
            check(link->getDirectParent(i) == (p < 0 ? nullptr : slots[p]));
        }
        for (size_t i = 0; i < n.children.size(); ++i)
            check(link->getChild(int(i)) == slots[n.children[i]]);
        int lo = -1, hi = -1;
        for (const Entry& e : n.parents) {
            if (lo < 0 || e.index < lo) lo = e.index;
            if (e.index > hi) hi = e.index;
        }
        check(link->getMinIndex() == lo && link->getMaxIndex() == hi);
    }
}

void onEvent(ekLink* link, int code, void*) {
    check(link != nullptr && (code == 'i' || code == 'a' || code == 'd'));
}

int liveLinks() {
    int n = 0;
    for (FuzzLink* l : slots) n += l != nullptr;
    return n;
}

int pick(FuzzInput& in) { return in.byte() % kSlots; }

// -1 (no link) or a live slot.
int pickOrNone(FuzzInput& in) {
    const int s = in.byte() % (kSlots + 1) - 1;
    return s >= 0 && slots[s] != nullptr ? s : -1;
}

void step(FuzzInput& in) {
    const int op = in.byte() % 14;
    const int a = pick(in);
    FuzzLink* link = slots[a];
    if (op == 0) {
        if (link == nullptr) {
            new FuzzLink(a);
            model[a].live = true;
            slots[a]->enableResetCallback(in.byte() % 4);
        }
        return;
    }
    if (link == nullptr) return;
    const int live = liveLinks();
    switch (op) {
        case 1: {  // addParent
            const int p = pickOrNone(in);
            link->addParent(p < 0 ? nullptr : slots[p]);
            connect(a, p, 0, true);
            break;
        }
        case 2: {  // setParent
            const int p = pickOrNone(in);
            const int index = in.byte() % kIndices;
            check(link->setParent(p < 0 ? nullptr : slots[p], index) == ekOkay);
            connect(a, p, index, false);
            break;
        }
        case 3: {  // removeParent by index
            const int index = in.byte() % kIndices;
            const int at = firstEntry(model[a], index);
            const ekStatus want = disconnect(a, at < 0 ? size_t(-1) : size_t(at));
            check((link->removeParent(index) == ekBadIndex) == (want == ekBadIndex));
            break;
        }
        case 4: {  // removeParent by link
            const int p = pickOrNone(in);
            size_t at = size_t(-1);
            for (size_t i = 0; i < model[a].parents.size() && at == size_t(-1); ++i)
                if (model[a].parents[i].parent == p) at = i;
            const ekStatus want = disconnect(a, at);
            check((link->removeParent(p < 0 ? nullptr : slots[p]) == ekBadIndex) ==
                  (want == ekBadIndex));
            break;
        }
        case 5: {  // enable, disable
            const int flag = in.byte() & 1;
            link->setEnabled(flag);
            model[a].enabled = flag != 0;
            break;
        }
        case 6: {
            const int index = in.byte() % kIndices;
            link->setDisabledIndex(index);
            model[a].disabledIndex = index;
            break;
        }
        case 7: {  // related type (may destroy siblings); the bypass flag
                   // changes what the link sees without altering it, so the
                   // program alters it as a class would
            const int type = in.byte() % 4 - 1;
            const int bypass = in.byte() & 1;
            link->setRelatedType(type, bypass);
            if (slots[a] != nullptr) {
                model[a].bypass = bypass != 0;
                link->setAltered(ekGeneralBit);
            }
            break;
        }
        case 8:
            link->setRelatedDelete(in.byte() & 1);
            break;
        case 9: {  // alterations, control bits and bits nobody may set included
            static const uint32_t kBits[] = {ekGeneralBit,   ekEnabledBit,    ekDataTypeBit,
                                             ekSizeBits,     ekConfigBit,     ekNoPropagateBit,
                                             ekPropagateBit, ekInProgressBit, 0x10000u};
            uint32_t bits = 0;
            const int n = in.byte() % 3;
            for (int i = 0; i <= n; ++i) bits |= kBits[in.byte() % 9];
            link->setAltered(int(bits));
            break;
        }
        case 10: {  // attribute bits allowed or not (the link-level bits stay)
            const uint32_t bits = (uint32_t(in.byte()) << 2) & 0x3FCu;
            if (in.byte() & 1)
                link->setAllowed(int(bits));
            else
                link->clearAllowed(int(bits));
            break;
        }
        case 11: {  // queries
            const int depth = link->getDepth();
            if (liveLinks() != live) depthsMayBeStale = true;  // see below
            forgetDeadLinks();
            if (slots[a] == nullptr) break;
            int state[kSlots] = {}, memo[kSlots] = {};
            const int want = modelDepth(a, state, memo);
            if (want >= 0 && !depthsMayBeStale) check(depth == want);
            link->getParent(in.byte() % kIndices);
            link->getRelatedChild(in.byte() % 4 - 1);
            break;
        }
        case 12:  // deletion
            delete link;
            break;
        case 13: {  // what the link's own reset does
            const int q = in.byte() % (kSlots + 1) - 1;
            link->queryDuringReset = q;
            link->alterDuringReset = (in.byte() & 1) != 0;
            break;
        }
    }
    // Links destroyed other than by a deletion or by a new related sibling
    // were destroyed by a reset: the graph changed after the depths of the
    // running walk were taken, and the reset absorbed the change.
    if (op != 7 && op != 12 && liveLinks() != live) depthsMayBeStale = true;
    forgetDeadLinks();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ekLink::setResetCallback(onEvent, nullptr);
    FuzzInput in(data, size);
    while (!in.done()) {
        step(in);
        checkGraph();
    }
    for (FuzzLink*& link : slots) delete link;  // may destroy related children too
    for (Node& n : model) n = Node();
    depthsMayBeStale = false;
    return 0;
}
