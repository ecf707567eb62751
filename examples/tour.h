// SPDX-License-Identifier: Apache-2.0
// The sections of the tour program, one file each.
#ifndef EKS_EXAMPLES_TOUR_H
#define EKS_EXAMPLES_TOUR_H

#include <string>
#include <vector>

// The operator graph: lazy resets, parents first (tour_graph.cpp).
void tourGraph();
// An image class of the host's own and its derived attributes (tour_images.cpp).
void tourImages();
// A memory image read back in many layouts, each result written as a picture
// into `folder` (tour_pictures.cpp). True when every step succeeded.
bool tourPictures(const char* folder);
// Locked tiles over a memory image and over an image without a buffer of its
// own; one locked page is written as a picture into `folder`
// (tour_pages.cpp). True when every step succeeded.
bool tourPages(const char* folder);
// The test picture written as a tiled, compressed TIFF file, opened again and
// read upside down through the page cache (tour_tiff.cpp, built with
// eks_tiff). True when every step succeeded.
bool tourTiff(const char* folder);

// Shared by the picture sections (tour_pictures.cpp): the 256 x 192 RGB test
// picture, top row first, and a binary PPM writer.
std::vector<unsigned char> tourTestPicture(int& w, int& h);
bool tourWritePpm(const std::string& path, int w, int h, const unsigned char* rgb);

#endif  // EKS_EXAMPLES_TOUR_H
