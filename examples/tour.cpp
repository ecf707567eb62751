// SPDX-License-Identifier: Apache-2.0
// A tour of the library: run it with tools/run-tour [output-folder].
//
// It walks through the operator graph and the image attributes, then shows the
// library's main job: one memory image read back in many layouts, each result
// written as a picture (PPM/PGM) into the output folder (./eks-tour unless one
// is given), and ends with locked tiles: the pages a tile touches, handed out
// for direct access. Built with eks_tiff, it also writes the picture as a TIFF
// file with two overviews and reads it back through the page cache. The exit status is 0 only
// when every step succeeded.
#include "tour.h"

#include <cstdio>

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : "eks-tour";
    std::printf("eks tour\n\n");
    tourGraph();
    tourImages();
    bool ok = tourPictures(folder);
    ok = tourPages(folder) && ok;
#ifdef EKS_TOUR_TIFF
    ok = tourTiff(folder) && ok;
#endif
    return ok ? 0 : 1;
}
