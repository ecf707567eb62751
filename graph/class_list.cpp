// SPDX-License-Identifier: Apache-2.0
// ekClassList: walks of the chain of class-identity records.
#include "eks/graph.h"

char* ekClassList::find(int n) const {
    if (n < 0) return nullptr;
    const ekClassList* record = this;
    for (; record != nullptr && n > 0; --n) record = record->parent;
    // The names are constant strings; the interface hands them out as char*.
    return record == nullptr ? nullptr : const_cast<char*>(record->name);
}

int ekClassList::find(const ekClassList* c) const {
    int position = 1;
    for (const ekClassList* record = this; record != nullptr; record = record->parent, ++position)
        if (record == c) return position;
    return 0;
}
