// A tour of the library (grows with the library).
#include <cstdio>

#include "eks/eks.h"

int main() {
    std::printf("eks tour\n");
    return 0;
}
