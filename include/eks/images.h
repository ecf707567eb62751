// Concrete image classes: memory image, seed images.
#ifndef EKS_IMAGES_H
#define EKS_IMAGES_H

#include "eks/image.h"

#endif  // EKS_IMAGES_H
