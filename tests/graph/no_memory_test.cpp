// SPDX-License-Identifier: Apache-2.0
// Graph links when an entry cannot be allocated: the status says so and
// neither the parent nor the child list changes.
#include <gtest/gtest.h>

#include "eks/graph.h"
#include "failing_new.h"

namespace {

TEST(GraphNoMemory, AnEntryThatCannotBeHadLeavesBothListsAlone) {
    ekLink parent, child;
    EXPECT_EQ(child.getStatus(), ekOkay);
    for (int n : {0, 1}) {  // the parent's entry, then the child entry on the parent
        failing_new::failAllocation(n);
        EXPECT_EQ(child.setParent(&parent, 3), ekNoMemory) << n;
        failing_new::failAllocation(n);
        child.addParent(&parent);
        EXPECT_EQ(child.getNumParents() + parent.getNumChildren(), 0) << n;
    }
    failing_new::failAllocation(-1);
    EXPECT_EQ(child.getStatus(), ekNoMemory);  // recorded by addParent
}

}  // namespace
