// SPDX-License-Identifier: Apache-2.0
// Included ahead of every test source (see CMakeLists.txt): GoogleTest prints
// a status in failure messages as its phrase and value, "not allowed (29)".
#ifndef EKS_TESTS_STATUS_PRINTER_H
#define EKS_TESTS_STATUS_PRINTER_H

#include <ostream>

#include "eks/core.h"

inline void PrintTo(ekStatus status, std::ostream* os) {
    *os << ekStatusName(status) << " (" << static_cast<int>(status) << ")";
}

#endif  // EKS_TESTS_STATUS_PRINTER_H
