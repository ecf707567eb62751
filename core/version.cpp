// SPDX-License-Identifier: Apache-2.0
// The library's own version, fixed when the library is built, so that a
// program can tell the loaded library from the headers it was compiled with.
#include "eks/version.h"

#include "eks/core.h"

const char* ekVersion() { return EKS_VERSION_STRING; }
