// SPDX-License-Identifier: Apache-2.0
// Uses the installed TIFF component: a file that does not exist is refused
// with a status and a message.
#include <eks/tiff.h>

int main() {
    ekTiffImg img("/nonexistent/eks-consumer.tif");
    if (img.getStatus() != ekBadInput) return 1;
    if (img.getMessage()[0] == '\0') return 2;
    return 0;
}
