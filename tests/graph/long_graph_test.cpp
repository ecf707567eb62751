// SPDX-License-Identifier: Apache-2.0
// Long graphs: a chain of a million links and a fan-out of a hundred thousand
// children are altered, brought up to date and torn down without exhausting
// the thread's stack (the test runs them on a thread with an 8 MB stack) and
// without work that grows faster than the graph.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "eks/graph.h"

namespace {

class CountingLink : public ekLink {
public:
    using ekLink::setAltered;
    int resets = 0;

protected:
    void reset() override {
        ++resets;
        ekLink::reset();
    }
};

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

TEST(LongGraph, ChainFanOutAndChainOfRelatedChildren) {
    onEightMegabyteStack([] {
        const int n = 1000000;
        std::vector<CountingLink*> chain(n);
        for (int i = 0; i < n; ++i) {
            chain[i] = new CountingLink;
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
            auto* root = new CountingLink;
            std::vector<CountingLink*> children(n / 10);
            for (CountingLink*& c : children) {
                c = new CountingLink;
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
        ekLink* previous = chain[0] = new CountingLink;
        for (int i = 1; i < 20000; ++i) {
            auto* link = new CountingLink;
            link->addParent(previous);
            link->setRelatedType(1, 0);
            previous = link;
        }
        delete chain[0];  // destroys the whole chain
    });
}

}  // namespace
