// SPDX-License-Identifier: Apache-2.0
// The nine conversion loops. Each branches once on the source type and walks
// the box run by run; the 81 (destination, source) inner loops are stamped from
// one template and the element rule in convert_kernels.h, plus a saturating
// variant for each pair that narrows.
#include "transfer/convert_kernels.h"

#include "transfer/block_mover.h"
#include "transfer/simd_kernels.h"

namespace {

// One run with unit steps on both sides: the plain indexed loop that the
// compiler vectorises.
template <class D, class S, bool Sat>
void unitRun(void* dd, int64_t dpos, const void* sd, int64_t spos, int64_t n) {
    if constexpr (std::is_same<D, ekBitTag>::value || std::is_same<S, ekBitTag>::value) {
        for (int64_t k = 0; k < n; ++k)
            ekPut<D>(dd, dpos + k, ekElemRule<D, S, Sat>(ekGet<S>(sd, spos + k)));
    } else {
        unsigned char* dp = static_cast<unsigned char*>(dd) + dpos * int64_t(sizeof(D));
        const unsigned char* sp = static_cast<const unsigned char*>(sd) + spos * int64_t(sizeof(S));
        for (int64_t k = 0; k < n; ++k) ekPut<D>(dp, k, ekElemRule<D, S, Sat>(ekGet<S>(sp, k)));
    }
}

// One run with any steps (flipped, transposed, channel-strided or constant).
template <class D, class S, bool Sat>
void stridedRun(void* dd, int64_t dpos, int64_t dstep, const void* sd, int64_t spos, int64_t sstep,
                int64_t n) {
    for (int64_t k = 0; k < n; ++k, dpos += dstep, spos += sstep)
        ekPut<D>(dd, dpos, ekElemRule<D, S, Sat>(ekGet<S>(sd, spos)));
}

// One run from a constant source (step 0): the value is converted once.
template <class D>
void fillRun(void* dd, int64_t dpos, int64_t dstep, ekValue<D> v, int64_t n) {
    if (dstep == -1) {  // every element gets the same value: fill forwards
        dpos -= n - 1;
        dstep = 1;
    }
    if (dstep == 1 && !std::is_same<D, ekBitTag>::value) {
        unsigned char* dp = static_cast<unsigned char*>(dd) + dpos * int64_t(sizeof(ekValue<D>));
        for (int64_t k = 0; k < n; ++k) ekPut<D>(dp, k, v);
    } else {
        for (int64_t k = 0; k < n; ++k, dpos += dstep) ekPut<D>(dd, dpos, v);
    }
}

}  // namespace

template <class D, class S, bool Sat>
void ekBlockMover::runLoop() {
    void* const dd = dst->data;
    const void* const sd = src->data;
    const ekUnitRunFn simd = ekSimdUnitRun(dst->type, src->type, stream, Sat);
    // Rows that follow each other in memory on both sides (whole rows of
    // both blocks) are one run per slice: the same elements in the same
    // order, with one kernel call instead of one per row.
    const bool joinRows = dstStep == 1 && srcStep == 1 && dst->yStride == runLength &&
                          src->yStride == runLength && box.ny > 1;
    do {
        if (srcStep == 0) {
            fillRun<D>(dd, dstPos, dstStep, ekElemRule<D, S, Sat>(ekGet<S>(sd, srcPos)), runLength);
        } else if (dstStep == 1 && srcStep == 1) {
            int64_t n = runLength;
            if (joinRows && row == 0) {
                n *= box.ny;
                row = box.ny - 1;  // the slice's rows are done
            }
            if (simd)
                ekSimdLongRun(simd, int(sizeof(ekValue<D>)), dd, dstPos, sd, srcPos, n);
            else
                unitRun<D, S, Sat>(dd, dstPos, sd, srcPos, n);
        } else {
            stridedRun<D, S, Sat>(dd, dstPos, dstStep, sd, srcPos, srcStep, runLength);
        }
    } while (nextRun());
}

template <class D>
void ekBlockMover::convertTo() {
    switch (src->type) {
#define EK_CASE(code, S)                   \
    case code:                             \
        if constexpr (ekNarrows<D, S>()) { \
            if (saturate) {                \
                runLoop<D, S, true>();     \
                break;                     \
            }                              \
        }                                  \
        runLoop<D, S, false>();            \
        break;
        EK_FOR_EACH_TYPE(EK_CASE)
#undef EK_CASE
        default:  // not one of the nine types: nothing moves
            break;
    }
}

void ekBlockMover::convertToBit() { convertTo<ekBitTag>(); }
void ekBlockMover::convertToUChar() { convertTo<uint8_t>(); }
void ekBlockMover::convertToChar() { convertTo<int8_t>(); }
void ekBlockMover::convertToUShort() { convertTo<uint16_t>(); }
void ekBlockMover::convertToShort() { convertTo<int16_t>(); }
void ekBlockMover::convertToULong() { convertTo<uint32_t>(); }
void ekBlockMover::convertToLong() { convertTo<int32_t>(); }
void ekBlockMover::convertToFloat() { convertTo<float>(); }
void ekBlockMover::convertToDouble() { convertTo<double>(); }
