// The sections of the tour program, one file each.
#ifndef EKS_EXAMPLES_TOUR_H
#define EKS_EXAMPLES_TOUR_H

// The operator graph: lazy resets, parents first (tour_graph.cpp).
void tourGraph();
// An image class of the host's own and its derived attributes (tour_images.cpp).
void tourImages();
// A memory image read back in many layouts, each result written as a picture
// into `folder` (tour_pictures.cpp). True when every step succeeded.
bool tourPictures(const char* folder);

#endif  // EKS_EXAMPLES_TOUR_H
