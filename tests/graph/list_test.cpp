// Intrusive lists: ends never expose the head, splicing, the indexed list's
// position cache against a std::vector model.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "eks/graph.h"

namespace {

struct Item : ekLinkItem {
    explicit Item(int v = 0) : value(v) {}
    int value;
};

std::vector<int> values(const ekList& l) {
    std::vector<int> out;
    for (ekLinkItem* i = l.head(); i; i = l.getNext(i)) out.push_back(static_cast<Item*>(i)->value);
    return out;
}

std::vector<int> valuesBackward(const ekList& l) {
    std::vector<int> out;
    for (ekLinkItem* i = l.tail(); i; i = l.getPrev(i))
        out.insert(out.begin(), static_cast<Item*>(i)->value);
    return out;
}

TEST(List, EndsAreNullNeverTheHead) {
    ekList l;
    EXPECT_EQ(l.head(), nullptr);
    EXPECT_EQ(l.tail(), nullptr);
    Item a(1), b(2);
    l.append(&a);
    l.append(&b);
    EXPECT_EQ(l.head(), &a);
    EXPECT_EQ(l.tail(), &b);
    EXPECT_EQ(l.getNext(&b), nullptr);
    EXPECT_EQ(l.getPrev(&a), nullptr);
    EXPECT_EQ(l.getNext(&a), &b);
    EXPECT_EQ(l.getPrev(&b), &a);
}

TEST(List, PrimitivesKeepOrderAndUnlinkNullsTheNode) {
    ekList l;
    Item a(1), b(2), c(3), d(4), e(5);
    l.append(&b);
    l.insert(&a);            // 1 2
    l.insertAfter(&d, &b);   // 1 2 4
    l.insertBefore(&c, &d);  // 1 2 3 4
    l.append(&e);            // 1 2 3 4 5
    EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(valuesBackward(l), values(l));
    l.unlink(&c);
    EXPECT_FALSE(c.isLinked());
    EXPECT_EQ(c.next, nullptr);
    EXPECT_EQ(c.prev, nullptr);
    l.unlink(&c);  // already unlinked: ignored
    l.unlink(&a);
    l.unlink(&e);
    EXPECT_EQ(values(l), (std::vector<int>{2, 4}));
    EXPECT_EQ(valuesBackward(l), values(l));
    l.unlink(&b);
    l.unlink(&d);
    EXPECT_EQ(l.head(), nullptr);
    EXPECT_EQ(l.next, &l);
    EXPECT_EQ(l.prev, &l);
}

TEST(List, AppendListAndInsertList) {
    ekList l, other;
    Item a(1), b(2), c(3), d(4), e(5);
    l.append(&c);
    l.appendList(&other);  // empty source: nothing changes
    EXPECT_EQ(values(l), (std::vector<int>{3}));
    other.append(&d);
    other.append(&e);
    l.appendList(&other);
    EXPECT_EQ(values(l), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(other.head(), nullptr);
    EXPECT_EQ(other.next, &other);
    EXPECT_EQ(other.prev, &other);
    other.append(&a);
    other.append(&b);
    l.insertList(&other);
    EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(valuesBackward(l), values(l));
    EXPECT_EQ(other.head(), nullptr);
    l.appendList(&l);  // onto itself: nothing
    EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3, 4, 5}));
    // Into an empty list.
    ekList empty;
    empty.appendList(&l);
    EXPECT_EQ(values(empty), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(valuesBackward(empty), values(empty));
}

TEST(List, CopyingAnItemNeverCopiesItsPlace) {
    ekList l;
    Item a(1), b(2);
    l.append(&a);
    l.append(&b);
    Item copy(a);
    EXPECT_FALSE(copy.isLinked());
    EXPECT_EQ(copy.value, 1);
    Item other(7);
    a = other;  // value copied, links kept
    EXPECT_EQ(a.value, 7);
    EXPECT_EQ(values(l), (std::vector<int>{7, 2}));
}

class Indexed : public ::testing::Test {
protected:
    void fill(int n) {
        items.resize(n);
        for (int i = 0; i < n; ++i) {
            items[i].value = i;
            list.append(&items[i]);
            ASSERT_TRUE(list.isValid());
        }
    }
    Item* at(int i) { return static_cast<Item*>(list[i]); }
    ekIndexableList list;
    std::vector<Item> items;
};

TEST_F(Indexed, LookupsAroundTheCacheFindTheRightElements) {
    fill(10);
    // 6, then 7 (forward from the cache), 8 (a tie: back from the last),
    // 2 (forward from the first), then back and forth.
    for (int i : {6, 7, 8, 2, 5, 4, 1, 9, 0, 3, 3, 8, 7, 6, 5}) {
        EXPECT_EQ(at(i)->value, i);
        EXPECT_TRUE(list.isValid());
    }
    EXPECT_EQ(list.findLink(10), nullptr);
    EXPECT_EQ(list.findLink(-1), nullptr);
    list.unlinkAt(10);  // nothing there: nothing happens
    EXPECT_EQ(list.length(), 10);
}

TEST_F(Indexed, InsertionsPlaceTheElementAndKeepTheCacheRight) {
    EXPECT_TRUE(list.isValid());
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.findLink(0), nullptr);
    fill(5);
    EXPECT_EQ(at(3)->value, 3);  // cache (3, item 3)
    Item front(-1);
    list.insert(&front);
    EXPECT_TRUE(list.isValid());  // the cache moved to index 4
    EXPECT_EQ(at(4)->value, 3);
    list.unlink(&front);  // empties the cache
    EXPECT_TRUE(list.isValid());
    Item x(100), y(101), z(102), w(103), v(104);
    EXPECT_EQ(at(3)->value, 3);
    list.insertAt(2, &x);  // before the cached element: cache shifts
    EXPECT_TRUE(list.isValid());
    EXPECT_EQ(at(2), &x);
    EXPECT_EQ(at(4)->value, 3);
    list.insertAt(list.length(), &y);  // at the end: appended
    EXPECT_EQ(list.tail(), &y);
    list.insertAt(1000, &z);  // past the end: appended
    EXPECT_EQ(list.tail(), &z);
    list.appendAt(0, &w);  // directly after position 0
    EXPECT_EQ(at(1), &w);
    list.insertAt(-3, &v);  // below 0: at the front
    EXPECT_EQ(list.head(), &v);
    Item u(105);
    list.appendAt(INT32_MAX, &u);  // far past the end: appended, no overflow
    EXPECT_EQ(list.tail(), &u);
    EXPECT_TRUE(list.isValid());
    EXPECT_EQ(list.length(), 11);
}

TEST_F(Indexed, IsValidDetectsBrokenLinks) {
    fill(4);
    ekLinkItem* saved = items[2].prev;
    items[2].prev = &items[0];
    EXPECT_FALSE(list.isValid());
    items[2].prev = saved;
    EXPECT_TRUE(list.isValid());
    saved = items[1].next;
    items[1].next = &list;
    EXPECT_FALSE(list.isValid());
    items[1].next = saved;
    list.next = &list;  // empty chain with a non-zero count
    EXPECT_FALSE(list.isValid());
    list.next = &items[0];
    EXPECT_TRUE(list.isValid());
}

// Random inserts, unlinks and lookups against a vector; every index checked
// after every change, in varying orders so that all walk directions occur.
TEST_F(Indexed, RandomSequencesMatchAVectorModel) {
    const unsigned seed = 20261206u;
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    items.resize(400);
    std::vector<Item*> model;
    std::vector<Item*> spare;
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].value = static_cast<int>(i);
        spare.push_back(&items[i]);
    }
    for (int round = 0; round < 3000; ++round) {
        const int n = static_cast<int>(model.size());
        const int op = static_cast<int>(rng() % 6);
        if (op <= 2 && !spare.empty()) {
            Item* item = spare.back();
            spare.pop_back();
            const int index = static_cast<int>(rng() % (n + 2));
            if (op == 0) {
                list.insertAt(index, item);
                model.insert(model.begin() + std::min(index, n), item);
            } else if (op == 1) {
                list.appendAt(index - 1, item);
                model.insert(model.begin() + std::min(index, n), item);
            } else if (rng() % 2) {
                list.insert(item);
                model.insert(model.begin(), item);
            } else {
                list.append(item);
                model.push_back(item);
            }
        } else if (op == 3 && n > 0) {
            const int index = static_cast<int>(rng() % n);
            if (rng() % 2)
                list.unlinkAt(index);
            else
                list.unlink(model[index]);
            spare.push_back(model[index]);
            model.erase(model.begin() + index);
        } else if (n > 0) {
            for (int k = 0; k < 8; ++k) {
                const int index = static_cast<int>(rng() % n);
                ASSERT_EQ(list[index], model[index]) << "round " << round << " index " << index;
            }
        }
        ASSERT_TRUE(list.isValid()) << "round " << round;
        ASSERT_EQ(list.length(), static_cast<int>(model.size()));
        if (round % 50 == 0) {
            for (int i = 0; i < list.length(); ++i) ASSERT_EQ(list[i], model[i]);
            for (int i = list.length() - 1; i >= 0; --i) ASSERT_EQ(list[i], model[i]);
        }
    }
}

TEST(ClassList, FindByStepsAndByRecord) {
    ekClassList root = {"root", nullptr};
    ekClassList mid = {"mid", &root};
    ekClassList leaf = {"leaf", &mid};
    EXPECT_STREQ(leaf.find(0), "leaf");
    EXPECT_STREQ(leaf.find(1), "mid");
    EXPECT_STREQ(leaf.find(2), "root");
    EXPECT_EQ(leaf.find(3), nullptr);
    EXPECT_EQ(leaf.find(-1), nullptr);
    EXPECT_EQ(leaf.find(&leaf), 1);
    EXPECT_EQ(leaf.find(&root), 3);
    EXPECT_EQ(mid.find(&leaf), 0);
    EXPECT_EQ(leaf.find(static_cast<const ekClassList*>(nullptr)), 0);
    ekClassList sameName = {"root", nullptr};  // compared by address, not name
    EXPECT_EQ(leaf.find(&sameName), 0);
}

}  // namespace
