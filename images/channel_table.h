// The channel table lives with the image core, which the base copy shares
// with the image classes; this name is kept for the image classes' sources.
#ifndef EKS_IMAGES_CHANNEL_TABLE_H
#define EKS_IMAGES_CHANNEL_TABLE_H

#include "image/channel_table.h"

#endif  // EKS_IMAGES_CHANNEL_TABLE_H
