// Tile iteration and page locking.
#ifndef EKS_PAGING_H
#define EKS_PAGING_H

#include "eks/image.h"

#endif  // EKS_PAGING_H
