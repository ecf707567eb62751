// SPDX-License-Identifier: Apache-2.0
// The whole public interface of the library.
#ifndef EKS_EKS_H
#define EKS_EKS_H

#include "eks/core.h"
#include "eks/graph.h"
#include "eks/image.h"
#include "eks/images.h"
#include "eks/paging.h"
#include "eks/version.h"

#endif  // EKS_EKS_H
