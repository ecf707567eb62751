// SPDX-License-Identifier: Apache-2.0
// An operator of your own: a class derived from ekImage with one input. It
// takes its attributes from the input at every reset, computes its pixels in
// a layout of its own choosing, and lets a memory image convert them into
// whatever layout the caller asked for.
#include <eks/eks.h>

#include <cstdio>
#include <vector>

// The negative of its input: v becomes min + max - v, with min and max the
// range of the output's data type (255 - v for 8-bit data).
class Negative : public ekImage {
public:
    explicit Negative(ekImage* input) {
        setNumInputs(1);  // input 0 only; setInput refuses other indices
        setInput(input, 0);
        // The caller may choose the output type; every other attribute
        // follows the input (their setters answer ekNotAllowed).
        setAllowed(ekDataTypeBit);
    }

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        ekStatus s = resetCheck();  // brings the input and then this image up to date
        if (s != ekOkay) return s;
        if (nx < 1 || ny < 1 || nz < 1) return ekOkay;

        // 1. Read the input's pixels of the box as doubles, all channels,
        //    oriented as the caller asked (its coordinate space).
        const ekCoordSpace space = cfg && cfg->coordSpace ? cfg->coordSpace : coordSpace;
        const int channels = size.c;
        std::vector<double> work(size_t(nx) * ny * nz * channels);
        ekConfig asDoubles(ekDouble, ekInterleaved, channels, nullptr, 0, space);
        s = getInput(0)->getTile3D(x, y, z, nx, ny, nz, work.data(), &asDoubles);
        if (s != ekOkay) return s;

        // 2. Compute.
        const double lo = ekDataMin(dataType), hi = ekDataMax(dataType);
        for (double& v : work) v = lo + hi - v;

        // 3. Deliver in the caller's layout: a memory image over the work
        //    buffer, in the caller's space, answers the caller's request.
        ekMemoryImg box(work.data(), ekSize(nx, ny, nz, channels), ekDouble, ekInterleaved);
        box.setCoordSpace(space);
        ekConfig want = callerLayout(cfg, space);
        return box.getSubTile3D(0, 0, 0, nx, ny, nz, data, bx - x, by - y, bz - z, bnx, bny, bnz,
                                &want);
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return ekNotAllowed;  // computed, not stored
    }

private:
    // The caller's layout, with what it leaves to "the image's own" (no
    // configuration, a type or order of 0 or "any") taken from this image:
    // the memory image that delivers has a layout of its own.
    ekConfig callerLayout(const ekConfig* cfg, ekCoordSpace space) {
        ekConfig want(this);
        if (cfg) {
            const ekConfig own = want;
            want = *cfg;
            if (want.type == 0 || want.type == ekAnyType) want.type = own.type;
            if (want.order == 0 || want.order == ekAnyOrder) want.order = own.order;
        }
        want.coordSpace = space;
        return want;
    }

protected:
    // Runs when something changed and somebody asks: the input has already
    // been brought up to date.
    void reset() override {
        ekImage* input = getInput(0);
        if (!input || input->getStatus() != ekOkay) {
            setStatus(ekBadInput);  // stays until the caller's clearStatus()
            return;
        }
        input->getSize(size);
        if (!isSet(ekDataTypeBit)) dataType = input->getDataType();
        order = input->getOrder();
        coordSpace = input->getCoordSpace();
        colorModel = input->getColorModel();
        initMinMax(0);  // value range of the data type (unless the caller set it)
        initPageSize(size.x, size.y, size.z, 0);
        checkColorModel();
        ekImage::reset();  // fill, scale, and the graph's bookkeeping
    }
};

int main() {
    unsigned char grey[2][3] = {{0, 100, 255}, {10, 20, 30}};
    ekMemoryImg source(grey, ekSize(3, 2, 1), ekUChar, ekInterleaved);
    source.setCoordSpace(ekUpperLeft);
    Negative negative(&source);

    unsigned char row[3];
    negative.getTile(0, 0, 3, 1, row, nullptr);  // 8-bit, like the input
    std::printf("negative of the top row: %d %d %d\n", row[0], row[1], row[2]);  // 255 155 0

    // Lazy: a change of the input shows at the next read.
    grey[0][0] = 55;
    source.markDirty();
    float wide[3];
    ekConfig asFloat(ekFloat, ekInterleaved, 1);
    negative.getTile(0, 0, 3, 1, wide, &asFloat);
    std::printf("after the change, as float: %g %g %g\n", wide[0], wide[1], wide[2]);  // 200 ...

    // A 16-bit output: its range is 0..65535.
    negative.setDataType(ekUShort);
    unsigned short deep[3];
    negative.getTile(0, 1, 3, 1, deep, nullptr);
    std::printf("16-bit negative of the bottom row: %d %d %d\n", deep[0], deep[1], deep[2]);

    return row[1] == 155 && wide[0] == 200.0f && deep[2] == 65505 ? 0 : 1;
}
