// Test helpers for the operator graph: a link that exposes the protected
// operations and records its resets, and a recorder for the reset callback.
#ifndef EKS_TESTS_GRAPH_TEST_LINK_H
#define EKS_TESTS_GRAPH_TEST_LINK_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "eks/graph.h"

class TestLink : public ekLink {
public:
    explicit TestLink(std::string n = "", std::vector<std::string>* log = nullptr)
        : name(std::move(n)), resetLog(log) {}
    ~TestLink() override {
        if (destroyed) *destroyed = true;
    }

    using ekLink::anyAltered;
    using ekLink::clearAllowed;
    using ekLink::deleteRelated;
    using ekLink::getDefaultDescription;
    using ekLink::getMaxIndex;
    using ekLink::getMinIndex;
    using ekLink::inProgress;
    using ekLink::isAltered;
    using ekLink::isSet;
    using ekLink::markSet;
    using ekLink::resetAltered;
    using ekLink::resetCheck;
    using ekLink::setAllowed;
    using ekLink::setAltered;
    using ekLink::setStatus;
    using ekLink::unalterable;

    uint32_t alteredMask() const { return static_cast<uint32_t>(isAltered(-1)); }

    std::string name;
    std::vector<std::string>* resetLog;
    std::function<void(TestLink&)> onReset;  // runs inside reset()
    bool* destroyed = nullptr;               // set by the destructor
    int resets = 0;
    int alterActions = 0;

protected:
    void reset() override {
        ++resets;
        if (resetLog) resetLog->push_back(name);
        if (onReset) onReset(*this);
        ekLink::reset();
    }
    void alterAction() override { ++alterActions; }
};

// Brings a link to the clean state without touching anything else.
inline void clean(TestLink& l) { l.getStatus(); }

struct Event {
    ekLink* link;
    int code;
};

// Installs a recording reset callback for the duration of each test and puts
// the library's statics back afterwards.
class GraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedFunc = ekLink::getResetCallback();
        ekLink::setResetCallback(&GraphTest::record, &events);
    }
    void TearDown() override {
        ekLink::setResetCallback(savedFunc, nullptr);
        ekLink::setResetCallbackDefaultEnabled(0, 0);
    }
    static void record(ekLink* link, int code, void* arg) {
        static_cast<std::vector<Event>*>(arg)->push_back({link, code});
    }
    std::string codes() const {
        std::string s;
        for (const Event& e : events) s += static_cast<char>(e.code);
        return s;
    }

    std::vector<Event> events;
    ekResetCallback savedFunc = nullptr;
};

#endif  // EKS_TESTS_GRAPH_TEST_LINK_H
