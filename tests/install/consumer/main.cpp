// Uses the installed library through its public headers only.
#include <eks/eks.h>

int main() {
    ekSize s(4, 3, 2);
    if (int(s) != 24) return 1;
    if (ekDataSize(ekUShort, 5) != 10) return 2;
    ekLink a, b;
    b.setParent(&a, 0);
    if (b.getDepth() != 1) return 3;
    return 0;
}
