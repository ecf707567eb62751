// SPDX-License-Identifier: Apache-2.0
// Explicit SIMD kernels of the transfer engine, chosen at run time from the
// CPU's features. Every kernel gives byte-identical results to the portable
// loops; with EKS_SIMD off the lookups return null and the portable code runs.
#ifndef EKS_TRANSFER_SIMD_KERNELS_H
#define EKS_TRANSFER_SIMD_KERNELS_H

#include <cstdint>

#include "eks/core.h"

// Converts n elements from source offset spos to destination offset dpos,
// both with unit steps (offsets count elements of each side's type).
using ekUnitRunFn = void (*)(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);

// Byte transposition: dst[j*dstStride + i] = src[i*srcStride + j] for i < h,
// j < w. Strides may be negative.
using ekTransposeFn = void (*)(unsigned char* dst, int64_t dstStride, const unsigned char* src,
                               int64_t srcStride, int64_t w, int64_t h);
// Three-byte pixel transposition: the pixel at src + i*srcStride + 3*j goes
// to dst + j*dstStride + 3*i (strides in bytes, either sign).
using ekTranspose24Fn = ekTransposeFn;
// Pixel order reversal: dst pixel i = src pixel n-1-i (pixels of a fixed size).
using ekReverseFn = void (*)(unsigned char* dst, const unsigned char* src, int64_t n);
// Channel split: n pixels of c one-byte channels at src into c rows
// dst + k*rowStride. Merge is the inverse.
using ekSplitFn = void (*)(unsigned char* dst, int64_t rowStride, const unsigned char* src,
                           int64_t n);
using ekMergeFn = void (*)(unsigned char* dst, const unsigned char* src, int64_t rowStride,
                           int64_t n);
// Short rows: `rows` rows of n bytes, row r from src + r*srcStride to
// dst + r*dstStride (strides in bytes, either sign); no destination row may
// overlap any source row. While row r is copied, the source of
// row r + ahead (when ahead > 0 and that row is in the box) and, when
// `next` is set, bytes that follow row r (what reads of the tiles to the
// right will take) are prefetched into the outer caches only: requests into
// the first-level cache hold its few miss slots until the data arrives and
// stall the copy itself (measured, 32 x 32 tile reads 0.32 -> 0.27 us per
// call, 256 x 256 tile reads 0.93 -> 0.83 of memcpy).
using ekCopyRowsFn = void (*)(unsigned char* dst, int64_t dstStride, const unsigned char* src,
                              int64_t srcStride, int64_t n, int64_t rows, int64_t ahead, bool next);

// The kernels this CPU runs; a null entry means: use the portable loop.
struct ekSimdKernels {
    ekTransposeFn transpose8;
    ekTranspose24Fn transpose24;  // three-byte pixels
    ekReverseFn reverse[5];       // by pixel size in bytes, 1 to 4
    ekSplitFn split8[5];          // by channel count, 2 to 4
    ekMergeFn merge8[5];
    ekUnitRunFn floatToByte;   // ekFloat to ekUChar or ekChar
    ekUnitRunFn shortToByte;   // ekUShort or ekShort to ekUChar or ekChar
    ekUnitRunFn floatToWord;   // ekFloat to ekUShort or ekShort
    ekUnitRunFn floatToDword;  // ekFloat to ekULong or ekLong
    ekUnitRunFn ucharToFloat;  // ekUChar to ekFloat
    ekUnitRunFn charToFloat;   // ekChar to ekFloat
    // Plain copies, for large boxes only (null: the C library's memmove):
    // one row of many, and one contiguous box (whole rows of both sides).
    void (*copyRow)(unsigned char* dst, const unsigned char* src, int64_t n);
    void (*copyBlock)(unsigned char* dst, const unsigned char* src, int64_t n);
    ekCopyRowsFn copyShortRows;  // rows of 2 KB or less
};

// Boxes whose destination takes at least this many bytes are written with
// streaming stores, which bypass the caches (the destination would not stay
// in them anyway). The tests lower it to exercise those kernels.
extern int64_t ekStreamBytes;
// The highest instruction set level the kernels may use (0 none, 1 SSE2,
// 2 SSSE3, 3 AVX2, 4 AVX-512 with its byte and 256-bit forms: F, BW, VL);
// the CPU's features limit it further. The tests lower it to run every
// level's kernels. 0 in a build without the SIMD kernels.
extern int ekSimdLevelCap;
// The level in use: ekSimdLevelCap limited by the CPU's features.
int ekSimdLevel();

// Where kernels that give the same bytes differ in speed from one CPU
// family to another, the choice follows the family measured: ekTuneAmd
// (AMD and every CPU that is not Intel's) or ekTuneIntel. ekSimdTuning is
// -1 for the family of the CPU that runs the program; the tests set each
// family in turn, to run every kernel on any machine.
enum { ekTuneAmd = 0, ekTuneIntel = 1 };
extern int ekSimdTuning;
// The family in use, and its name ("AMD", "Intel").
int ekSimdTune();
const char* ekSimdTuningName();

#if EKS_SIMD
// The kernels for this CPU, or null; `stream` selects the streaming-store
// variants.
const ekSimdKernels* ekSimd(bool stream);
// The SIMD kernel for unit-step runs of this type pair, or null; with
// `saturate`, the kernel of the saturating rule (ekSaturateElem), asked for
// only for pairs that narrow.
ekUnitRunFn ekSimdUnitRun(ekType dstType, ekType srcType, bool stream, bool saturate);
// Orders streaming stores before whatever follows; called after a box that
// used them.
void ekSimdFence();
// Runs kernel k (a unit-step run of ekSimdUnitRun, destination elements of
// dstBytes bytes) over n elements. A run of a large box long enough to be
// worth it goes as four streams, a piece of each in turn: memory serves
// four distant places at once faster than one. The same bytes either way.
void ekSimdLongRun(ekUnitRunFn k, int dstBytes, void* dst, int64_t dpos, const void* src,
                   int64_t spos, int64_t n);
#else
inline const ekSimdKernels* ekSimd(bool) { return nullptr; }
inline ekUnitRunFn ekSimdUnitRun(ekType, ekType, bool, bool) { return nullptr; }
inline void ekSimdFence() {}
inline void ekSimdLongRun(ekUnitRunFn k, int, void* dst, int64_t dpos, const void* src,
                          int64_t spos, int64_t n) {
    k(dst, dpos, src, spos, n);
}
#endif

#endif  // EKS_TRANSFER_SIMD_KERNELS_H
