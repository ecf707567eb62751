// SPDX-License-Identifier: Apache-2.0
// The tour, part 1: the operator graph and its lazy, parents-first resets.
#include <cstdio>

#include "eks/eks.h"
#include "tour.h"

// --- The operator graph -----------------------------------------------------
// A node that prints when the graph asks it to recompute. Real operators
// derive from ekImage; plain links show the lazy protocol on its own.
struct Named {
    const ekLink* link;
    const char* name;
};
static Named names[8];  // the callback may not touch a link being destroyed
static int nameCount = 0;

static const char* nameOf(const ekLink* link) {
    for (int i = 0; i < nameCount; ++i)
        if (names[i].link == link) return names[i].name;
    return "?";
}

class Step : public ekLink {
public:
    explicit Step(const char* name) {
        if (nameCount < 8) names[nameCount++] = {this, name};
    }
    void touch() { setAltered(ekGeneralBit); }  // "my settings changed"

protected:
    void reset() override {
        std::printf("  reset %-9s depth %d\n", nameOf(this), getDepth());
        ekLink::reset();
    }
};

// 'i' first reset, 'a' later reset or in-place alteration, 'd' deletion.
static void onReset(ekLink* link, int event, void*) {
    std::printf("  event '%c' from %s\n", event, nameOf(link));
}

void tourGraph() {
    std::printf("Operator graph: source -> blur -> threshold -> display\n");
    ekLink::setResetCallback(onReset, nullptr);
    ekLink::setResetCallbackDefaultEnabled(2, 1);  // first resets, later resets, alterations
    Step source("source"), blur("blur"), threshold("threshold"), display("display");
    blur.addParent(&source);
    threshold.addParent(&blur);
    display.addParent(&threshold);

    std::printf("first query of the far end resets the whole chain, parents first:\n");
    display.getStatus();
    std::printf("nothing changed, so a second query does nothing:\n");
    display.getStatus();
    std::printf("blur's settings change; nothing runs until display is asked:\n");
    blur.touch();
    std::printf("display asks:\n");
    display.getStatus();
    std::printf("disabling blur lets threshold see the source directly:\n");
    blur.setEnabled(0);
    display.getStatus();
    std::printf("  threshold's input is now %s\n", nameOf(threshold.getParent(0)));
    ekLink::setResetCallbackDefaultEnabled(1, 1);  // from here on: deletions only
    std::printf("leaving scope destroys the links:\n");
}
