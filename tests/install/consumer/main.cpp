// SPDX-License-Identifier: Apache-2.0
// Uses the installed library through its public headers only.
#include <eks/eks.h>

#include <cstring>

static_assert(__cplusplus >= 201703L, "the package must ask for C++17");

int main() {
    ekSize s(4, 3, 2);
    if (int(s) != 24) return 1;
    if (ekDataSize(ekUShort, 5) != 10) return 2;
    ekLink a, b;
    b.setParent(&a, 0);
    if (b.getDepth() != 1) return 3;
    // Headers, loaded library and package agree on the version.
    if (std::strcmp(EKS_VERSION_STRING, EKS_EXPECTED_VERSION) != 0) return 4;
    if (std::strcmp(ekVersion(), EKS_VERSION_STRING) != 0) return 5;
    if (std::strcmp(ekStatusName(ekNotAllowed), "not allowed") != 0) return 6;
    return 0;
}
