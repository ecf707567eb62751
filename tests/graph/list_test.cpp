// SPDX-License-Identifier: Apache-2.0
// The graph's containers: intrusive lists (ends never expose the head,
// splicing, the indexed list's walks and cache against a vector), the address
// map against a standard map, and the class identity records.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

#include "eks/graph.h"
#include "graph/address_map.h"

namespace {

struct Item : ekLinkItem {
    explicit Item(int v = 0) : value(v) {}
    int value;
};

// The values front to back, after checking that the backward walk agrees.
std::vector<int> values(const ekList& l) {
    std::vector<int> out, back;
    for (ekLinkItem* i = l.head(); i; i = l.getNext(i)) out.push_back(static_cast<Item*>(i)->value);
    for (ekLinkItem* i = l.tail(); i; i = l.getPrev(i))
        back.insert(back.begin(), static_cast<Item*>(i)->value);
    EXPECT_EQ(out, back);
    return out;
}

TEST(List, OperationsKeepOrderAndNeverExposeTheHead) {
    ekList l, other;
    EXPECT_TRUE(l.head() == nullptr && l.tail() == nullptr);
    Item a(1), b(2), c(3), d(4), e(5), f(6);
    l.append(&b);
    l.insert(&a);
    l.insertAfter(&d, &b);
    l.insertBefore(&c, &d);
    EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3, 4}));  // ends give null, not the head
    l.unlink(&c);
    EXPECT_TRUE(c.next == nullptr && c.prev == nullptr);
    l.unlink(&c);          // already unlinked: ignored
    l.appendList(&other);  // empty source: nothing changes
    other.append(&e);
    other.append(&f);
    l.appendList(&other);
    EXPECT_EQ(values(l), (std::vector<int>{1, 2, 4, 5, 6}));
    EXPECT_TRUE(other.head() == nullptr && other.next == &other && other.prev == &other);
    other.append(&c);
    l.insertList(&other);
    l.appendList(&l);  // onto itself: nothing
    EXPECT_EQ(values(l), (std::vector<int>{3, 1, 2, 4, 5, 6}));
    ekList empty;
    empty.appendList(&l);
    EXPECT_EQ(values(empty), (std::vector<int>{3, 1, 2, 4, 5, 6}));
}

// Appends n items valued 0 .. n-1 (nodes cannot be moved: built in place).
void fill(ekIndexableList& list, std::vector<Item>& items, int n) {
    items = std::vector<Item>(size_t(n));
    for (int i = 0; i < n; ++i) {
        items[i].value = i;
        list.append(&items[i]);
    }
}

// Which walk a lookup takes shows when every prev pointer loops onto its own
// node: a forward walk still finds the element, a backward one stays where it
// started. On 10 elements, ties go to the far end (first or last node).
TEST(Indexed, LookupWalksFromTheNearestOfFirstCachedAndLast) {
    ekIndexableList list;
    std::vector<Item> items;
    Item spare;
    fill(list, items, 10);
    const struct {
        int cached, index;
        bool forward;
    } rows[] = {
        {6, 7, true},   // one step on from the cache
        {7, 8, false},  // 1 < 1 is false: back from the last
        {6, 2, true},   // 2 < 4: on from the first
        {6, 3, false},  // 3 < 3 is false: back from the cache
        {2, 5, true},  {1, 5, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.cached << " -> " << r.index);
        list.insert(&spare);  // an unlink empties the cache
        list.unlink(&spare);
        ASSERT_EQ(list[r.cached], &items[r.cached]);
        std::vector<ekLinkItem*> prevs;
        for (Item& it : items) prevs.push_back(it.prev), it.prev = &it;
        ekLinkItem* found = list[r.index];
        for (size_t i = 0; i < items.size(); ++i) items[i].prev = prevs[i];
        EXPECT_EQ(found == &items[r.index], r.forward);
    }
}

TEST(Indexed, BrokenLinksAreNotValid) {
    ekIndexableList list;
    std::vector<Item> items;
    EXPECT_EQ(list.isValid(), 1);  // exactly 1, also when empty
    fill(list, items, 4);
    // A prev pointer that skips a node, a chain that ends early, an empty
    // chain with a non-zero count.
    const std::pair<ekLinkItem**, ekLinkItem*> breaks[] = {
        {&items[2].prev, &items[0]}, {&items[1].next, &list}, {&list.next, &list}};
    for (const auto& b : breaks) {
        ekLinkItem* saved = std::exchange(*b.first, b.second);
        EXPECT_FALSE(list.isValid());
        *b.first = saved;
    }
    EXPECT_TRUE(list.isValid());
}

// Random inserts, unlinks and lookups against a vector, in varying orders so
// that every walk direction and cache adjustment occurs. Indices run past
// both ends, up to the 32-bit limits: inserts land at the nearer end, unlinks
// and lookups find nothing.
TEST(Indexed, RandomSequencesMatchAVectorModel) {
    std::mt19937 rng(20261206u);
    ekIndexableList list;
    std::vector<Item> items(400);
    std::vector<Item*> model, unused;
    for (Item& it : items) unused.push_back(&it);
    for (int round = 0; round < 3000; ++round) {
        const int n = static_cast<int>(model.size());
        const int op = static_cast<int>(rng() % 6);
        // An index in -3 .. n + 2, one time in sixteen at a 32-bit limit.
        int index = static_cast<int>(rng() % (n + 6)) - 3;
        if (rng() % 16 == 0) index = rng() % 2 ? INT32_MAX : INT32_MIN;
        if (op <= 2 && !unused.empty()) {
            Item* item = unused.back();
            unused.pop_back();
            const int64_t position = op == 1 ? int64_t(index) + 1 : index;
            auto at = model.begin() + std::max<int64_t>(0, std::min<int64_t>(position, n));
            if (op == 0) {
                list.insertAt(index, item);
            } else if (op == 1) {
                list.appendAt(index, item);
            } else if (rng() % 2) {
                list.insert(item);
                at = model.begin();
            } else {
                list.append(item);
                at = model.end();
            }
            model.insert(at, item);
        } else if (op == 3 && (index < 0 || index >= n)) {
            list.unlinkAt(index);  // nothing there: nothing happens
        } else if (op == 3) {
            if (rng() % 2)
                list.unlinkAt(index);
            else
                list.unlink(model[index]);
            unused.push_back(model[index]);
            model.erase(model.begin() + index);
        } else {
            for (int k = 0; k < 8; ++k) {
                const int at = k == 0 ? index : static_cast<int>(rng() % (n + 1));
                ekLinkItem* want = at >= 0 && at < n ? model[at] : nullptr;
                ASSERT_EQ(list[at], want) << "round " << round << " index " << at;
            }
        }
        ASSERT_TRUE(list.isValid()) << "round " << round;
        ASSERT_EQ(list.length(), static_cast<int>(model.size()));
    }
}

// Random insertions and removals over a few hundred addresses, so that probe
// runs collide, wrap around the table and are shifted back on removal.
TEST(AddressMap, MatchesAStandardMap) {
    ekAddressMap map;
    std::unordered_map<uintptr_t, uint64_t> model;
    std::mt19937 rng(11u);
    for (int round = 0; round < 200000; ++round) {
        const uintptr_t address = 16 * (1 + rng() % 700);  // 16 bytes apart, as objects are
        const void* key = reinterpret_cast<const void*>(address);
        if (rng() % 3 == 0) {
            map.erase(key);
            model.erase(address);
        } else {
            ASSERT_TRUE(map.insert(key, round));
            model[address] = uint64_t(round);
        }
        const uintptr_t probe = 16 * (1 + rng() % 700);
        const auto it = model.find(probe);
        ASSERT_EQ(map.find(reinterpret_cast<const void*>(probe), ~0ull),
                  it == model.end() ? ~0ull : it->second);
        ASSERT_EQ(map.size(), model.size());
    }
    EXPECT_EQ(map.find(nullptr, 7), 7u);
}

TEST(ClassList, FindByStepsAndByRecord) {
    ekClassList root = {"root", nullptr}, mid = {"mid", &root}, leaf = {"leaf", &mid};
    EXPECT_STREQ(leaf.find(0), "leaf");
    EXPECT_STREQ(leaf.find(2), "root");
    EXPECT_TRUE(leaf.find(3) == nullptr && leaf.find(-1) == nullptr);
    EXPECT_EQ(std::vector<int>({leaf.find(&leaf), leaf.find(&root), mid.find(&leaf)}),
              std::vector<int>({1, 3, 0}));
    ekClassList sameName = {"root", nullptr};  // compared by address, not name
    EXPECT_EQ(leaf.find(&sameName), 0);
    ekLink link;  // the root record, behind the virtual queries
    EXPECT_STREQ(link.getClassName(0), "ekLink");
    EXPECT_EQ(link.getClassName(1), nullptr);
    EXPECT_EQ(link.derivesFrom(&ekLink::classList), 1);
}

}  // namespace
