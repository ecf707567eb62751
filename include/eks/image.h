// The abstract image: attributes, tile front end and coordinate spaces.
#ifndef EKS_IMAGE_H
#define EKS_IMAGE_H

#include "eks/graph.h"

#endif  // EKS_IMAGE_H
