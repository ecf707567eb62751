// SPDX-License-Identifier: Apache-2.0
// Scaling of the graph walks with the size of the graph: a chain of links
// altered at its root and brought up to date at its far end, and a fan-out of
// children deleted newest first, oldest first and in random order. Each
// benchmark reports the time per link ("per_link"); it stays flat from a
// thousand to a million links when the walks are linear.
//
//   eks_graph_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "eks/graph.h"

namespace {

class BenchLink : public ekLink {
public:
    using ekLink::setAltered;
};

void perLink(benchmark::State& state, int64_t links) {
    state.counters["per_link"] = benchmark::Counter(
        double(links), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One alteration at the root and one query at the far end of a chain.
void ChainAlterAndQuery(benchmark::State& state) {
    const int n = int(state.range(0));
    std::vector<BenchLink> chain(n);
    for (int i = 1; i < n; ++i) chain[i].addParent(&chain[i - 1]);
    chain[n - 1].getStatus();
    for (auto _ : state) {
        chain[0].setAltered(ekGeneralBit);
        benchmark::DoNotOptimize(chain[n - 1].getDepth());
    }
    perLink(state, n);
    for (int i = n - 1; i > 0; --i) chain[i].removeParent(&chain[i - 1]);
}
BENCHMARK(ChainAlterAndQuery)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMillisecond);

// Builds a fan-out of n children and deletes them in the given order:
// 0 newest first, 1 oldest first, 2 random.
void FanOutDelete(benchmark::State& state) {
    const int n = int(state.range(0));
    const int order = int(state.range(1));
    std::mt19937 rng(1u);
    for (auto _ : state) {
        state.PauseTiming();
        auto* root = new BenchLink;
        std::vector<BenchLink*> children(n);
        for (BenchLink*& c : children) {
            c = new BenchLink;
            c->addParent(root);
        }
        if (order == 0) std::reverse(children.begin(), children.end());
        if (order == 2) std::shuffle(children.begin(), children.end(), rng);
        state.ResumeTiming();
        for (BenchLink* c : children) delete c;
        state.PauseTiming();
        delete root;
        state.ResumeTiming();
    }
    perLink(state, n);
}
BENCHMARK(FanOutDelete)
    ->ArgsProduct({{1000, 10000, 100000}, {0, 1, 2}})
    ->ArgNames({"children", "order"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
