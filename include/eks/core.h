// SPDX-License-Identifier: Apache-2.0
// Foundations: value types, enumerations, per-type facts, the caller's layout
// record (ekConfig) and the pixel and buffer classes.
#ifndef EKS_CORE_H
#define EKS_CORE_H

#include <cstddef>
#include <cstdint>

// EKS_API marks what the shared library exports; everything else is hidden.
#if defined(_WIN32)
#if defined(EKS_BUILDING_LIBRARY)
#define EKS_API __declspec(dllexport)
#else
#define EKS_API __declspec(dllimport)
#endif
#else
#define EKS_API __attribute__((visibility("default")))
#endif

// EKS_LOCAL keeps a private helper of an exported class out of the exported
// symbols. Only for non-virtual private member functions that no inline code
// in a public header calls: callers outside the library could not link them.
#if defined(_WIN32)
#define EKS_LOCAL
#else
#define EKS_LOCAL __attribute__((visibility("hidden")))
#endif

class ekImage;

// ---------------------------------------------------------------------------
// Enumerations. The numeric values are part of the interface: callers store
// and pass them as plain integers. Every enumeration has a fixed 32-bit
// underlying type, so any 32-bit integer is a valid value of it: a value
// outside the table is not undefined behaviour but follows the rule its user
// documents (an unknown coordinate space means the image's own, an unknown
// data type or order is refused, an unknown name is "unknown").

// Element type. Each value is one bit so that sets of types can be OR-ed.
enum ekType : int32_t {
    ekBit = 1,        // one bit, packed eight to a byte, most significant bit first
    ekUChar = 2,      // 8-bit unsigned
    ekChar = 4,       // 8-bit signed
    ekUShort = 8,     // 16-bit unsigned
    ekShort = 16,     // 16-bit signed
    ekULong = 32,     // 32-bit unsigned (never the platform's long)
    ekLong = 64,      // 32-bit signed
    ekFloat = 128,    // IEEE 754 binary32
    ekDouble = 256,   // IEEE 754 binary64
    ekAnyType = 511,  // not given: the image's own type applies
};

// Arrangement of the channels in memory.
enum ekOrder : int32_t {
    ekInterleaved = 1,  // the channels of one pixel are adjacent
    ekSequential = 2,   // each row holds the row of channel 0, then channel 1, ...
    ekSeparate = 4,     // each channel is a plane of its own
    ekAnyOrder = 7,     // not given: the image's own order applies
};

// Which corner is the origin and which axis runs first.
enum ekCoordSpace : int32_t {
    ekUpperLeft = 1,
    ekUpperRight = 2,
    ekLowerRight = 3,
    ekLowerLeft = 4,
    ekLeftUpper = 5,
    ekRightUpper = 6,
    ekRightLower = 7,
    ekLeftLower = 8,
};

enum ekColorModel : int32_t {
    ekMinWhite = 1,
    ekGreyscale = 2,
    ekRGB = 3,
    ekColorIndex = 4,
    ekRGBA = 5,
    ekHSV = 6,
    ekCMY = 7,
    ekCMYK = 8,
    ekBGR = 9,
    ekABGR = 10,
    ekMultiSpectral = 11,
    ekYCC = 12,
};

// Compression recorded as an image attribute; the library compresses nothing.
enum ekCompress : int32_t {
    ekNoCompression = 1,
    ekCCITTGroup3 = 3,
    ekCCITTGroup4 = 4,
    ekLZW = 5,
    ekMacRLE = 32773,
    ekDRXRLE = 32901,
};

// Result of most operations; 0 is success, everything else a failure.
enum ekStatus : int32_t {
    ekOkay = 0,
    ekBadAttribute = 7,     // attributes incomplete (any type/order, or an empty size)
    ekNoMemory = 10,        // no data buffer, or a channel list that cannot be inverted
    ekBadInput = 18,        // input missing or not ekOkay
    ekBadColorModel = 19,   // colour model does not fit an explicitly set channel count
    ekNotImplemented = 20,  // not provided by this class
    ekOutOfBounds = 24,     // clipping a box to the image had to change it
    ekBadIndex = 25,        // input or parent index out of range, or parent not found
    ekNotAllowed = 29,      // attribute unalterable, or operation not supported here
};

// Alteration bits: masks for setAltered, markSet, isSet, unalterable, setAllowed.
enum : uint32_t {
    ekGeneralBit = 0x00000001,
    ekEnabledBit = 0x00000002,
    ekDataTypeBit = 0x00000004,
    ekOrderBit = 0x00000008,
    ekPageSizeBit = 0x00000010,
    ekXsizeBit = 0x00000020,
    ekYsizeBit = 0x00000040,
    ekCsizeBit = 0x00000080,
    ekZsizeBit = 0x00000100,
    ekSizeBits = 0x000001E0,
    ekCoordSpaceBit = 0x00000200,
    ekColorModelBit = 0x00000400,
    ekMinValueBit = 0x00000800,
    ekMaxValueBit = 0x00001000,
    ekScaleBit = 0x00002000,
    ekFillBit = 0x00004000,
    ekCompressionBit = 0x00008000,
    ekPageBorderBit = 0x00020000,
    ekConfigBit = 0x00040000,
    ekNoPropagateBit = 0x20000000,  // setAltered argument: do not tell the children
    ekPropagateBit = 0x40000000,    // argument: tell only the children; mask: children told
    ekInProgressBit = 0x80000000,   // altered mask: a reset is running
    ekNeverResetBit = 0x80000000,   // allowed mask: never completed a reset
};

// ---------------------------------------------------------------------------
// Value types. Default construction leaves the fields unset; copies are
// member-wise.

// Size of an image: width, height, depth (slices) and channel count.
struct EKS_API ekSize {
    int32_t x, y, z, c;

    ekSize() {}
    constexpr ekSize(int x_, int y_, int c_) : x(x_), y(y_), z(1), c(c_) {}
    constexpr ekSize(int x_, int y_, int z_, int c_) : x(x_), y(y_), z(z_), c(c_) {}
    ekSize(const ekSize& s) = default;
    ekSize& operator=(const ekSize& s) = default;

    // Element count x*y*z*c, computed in 64 bits and wrapped to 32 bits.
    // Never use it to size memory: it wraps for large images.
    operator int() const;
    int operator==(const ekSize& s) const;
    int operator!=(const ekSize& s) const;
};

// Axis-aligned 3-D box: origin (x, y, z) and extent (nx, ny, nz). It covers x
// to x+nx-1 on each axis and is empty when any extent is below 1.
struct EKS_API ekTile {
    int32_t x, y, z;
    int32_t nx, ny, nz;

    ekTile() {}
    constexpr ekTile(int x_, int y_, int z_, int nx_, int ny_, int nz_)
        : x(x_), y(y_), z(z_), nx(nx_), ny(ny_), nz(nz_) {}
    // Intersection of a and b. Extents are not clamped: disjoint boxes give an
    // extent of 0 or below (empty). Ends are computed in 64 bits and clamped
    // to the 32-bit range.
    ekTile(const ekTile& a, const ekTile& b);
    ekTile(const ekTile& t) = default;
    ekTile& operator=(const ekTile& t) = default;

    bool contains(const ekTile& t) const;
    // Like contains(t), but on an axis where this box reaches its limit t may
    // run past this box's end.
    bool contains(const ekTile& t, int xlimit, int ylimit, int zlimit) const;
    bool operator==(const ekTile& t) const;
    bool operator!=(const ekTile& t) const;
    bool empty() const { return nx < 1 || ny < 1 || nz < 1; }
    bool is3d() const { return nz > 1; }
    // Cuts the box at 0 on the x and y axes; z is left alone.
    void clipPositive();
};

// The same box in floating point; empty when any extent is 0.0 or below.
struct EKS_API ekTileFloat {
    float x, y, z;
    float nx, ny, nz;

    ekTileFloat() {}
    constexpr ekTileFloat(float x_, float y_, float z_, float nx_, float ny_, float nz_)
        : x(x_), y(y_), z(z_), nx(nx_), ny(ny_), nz(nz_) {}
    ekTileFloat(const ekTileFloat& a, const ekTileFloat& b);
    ekTileFloat(const ekTileFloat& t) = default;
    ekTileFloat& operator=(const ekTileFloat& t) = default;

    bool contains(const ekTileFloat& t) const;
    bool contains(const ekTileFloat& t, float xlimit, float ylimit, float zlimit) const;
    bool operator==(const ekTileFloat& t) const;
    bool operator!=(const ekTileFloat& t) const;
    bool empty() const { return !(nx > 0.0f) || !(ny > 0.0f) || !(nz > 0.0f); }
    bool is3d() const { return nz > 1.0f; }
    void clipPositive();
};

// A point (used with float) carried through coordinate mappings.
template <class T>
class ekXYstruct {
public:
    T x, y;
    ekXYstruct() : x(), y() {}
    ekXYstruct(T x_, T y_) : x(x_), y(y_) {}
};

// Position and channel (used with int); the base of a page record.
template <class T>
class ekXYZCstruct {
public:
    T x, y, z, c;
    ekXYZCstruct() : x(), y(), z(), c() {}
    ekXYZCstruct(T x_, T y_, T z_, T c_) : x(x_), y(y_), z(z_), c(c_) {}
};

// ---------------------------------------------------------------------------
// Per-data-type facts.

// Bytes needed for n elements of the type; 0 for anything but the nine types.
// ekBit packs eight elements to a byte: (n+7)/8. A size beyond the int range
// is clamped to it (INT32_MAX); the library never sizes memory from such a
// value.
EKS_API int ekDataSize(ekType type, int n);
// The first type, in the order bit, uchar, char, ushort, short, ulong, long,
// float, double, whose range holds both bounds truncated toward zero (the
// fraction plays no role). Bounds inside the 32-bit signed range always give
// an integer type; a bound outside it is compared as it is, without any
// 32-bit cast (0..3e9 gives ekULong, 0..1e20 ekFloat, 0..1e300 or an infinite
// bound ekDouble). A NaN bound gives ekDouble.
EKS_API ekType ekDataType(double minValue, double maxValue);
EKS_API double ekDataMin(ekType type);
EKS_API double ekDataMax(ekType type);
// The type masked with the signed types (0x1D4); non-zero means signed.
EKS_API int ekDataIsSigned(ekType type);

// Display names ("unsigned char", "interleaved", ...); "unknown" for any value
// not listed, combinations of bits included.
EKS_API const char* ekTypeName(int type);
EKS_API const char* ekOrderName(int order);
EKS_API const char* ekCoordSpaceName(int space);
EKS_API const char* ekColorModelName(int model);
EKS_API const char* ekCompressName(int compress);
// A short English phrase for a status ("okay", "not enough memory", "bad
// attribute", ...), for messages; "unknown status" for any other value.
EKS_API const char* ekStatusName(ekStatus status);

// The version of the loaded library, "major.minor.patch". The headers'
// version is EKS_VERSION_STRING in eks/version.h; the two differ when a
// program runs against another build of the library than it was compiled with.
EKS_API const char* ekVersion();

// ---------------------------------------------------------------------------
// Flags of a transfer, OR-ed into ekConfig::reserved. The constructors set
// the word to 0 (no flags); getConfig leaves it as the caller set it. Bits
// not named here are ignored.
enum ekConfigFlag {
    // Saturating conversions. Without the flag every conversion is a plain
    // cast: integers keep their low-order bits and floating values truncate
    // toward zero first (float 300.0 -> ekUChar 44, -10.0 -> 246, 2.7 -> 2;
    // ekUShort 300 -> ekUChar 44; ekChar -1 -> ekUChar 255).
    //
    // With the flag, every narrowing conversion of the transfer (reads,
    // writes, fills, including the fill outside the image, and copies between
    // images) gives the source value rounded to nearest, ties to even, and
    // clamped to the destination type's range (float 300.0 -> ekUChar 255,
    // -10.0 -> 0, 2.5 -> 2, 3.5 -> 4; ekUShort 300 -> ekUChar 255; ekChar -1
    // -> ekUChar 0; ekUChar 200 -> ekChar 127). NaN gives 0 in an integer
    // type; ekBit is the range 0...1 (0.5 -> 0, 0.7 -> 1, 256 -> 1, -3 -> 0).
    // Rounding does not depend on the floating-point environment.
    //
    // Narrowing means: into an integer type or ekBit from a floating type,
    // or from an integer type whose range the destination does not hold
    // (a smaller width, or the other signedness: ekChar -> ekUShort and
    // ekULong -> ekLong narrow, ekUChar -> ekShort does not; every integer
    // type -> ekBit narrows); and ekDouble -> ekFloat, where a finite value
    // beyond the float range gives +-FLT_MAX instead of an infinity
    // (infinities and NaN stay what they are). Every other conversion is
    // unchanged by the flag: integers into floating types (an ekULong or
    // ekLong into ekFloat still rounds to nearest binary32), widening
    // integer conversions, ekBit into anything, and equal types.
    ekSaturate = 1,
};

// ---------------------------------------------------------------------------
// The caller's side of a transfer: element type, channel order and coordinate
// space of the caller's buffer, and which image channel each buffer channel
// holds. A null const ekConfig* means the image's own layout. Owns nothing:
// the channel list belongs to whoever made it and must outlive every use.
class EKS_API ekConfig {
public:
    ekType type;              // element type of the caller's buffer
    ekOrder order;            // channel order of the caller's buffer
    ekCoordSpace coordSpace;  // space of the caller's positions; 0 = the image's own
    int32_t nchans;           // channels in the caller's buffer; 0 = the image's count
    int32_t chanOffset;       // image channel of buffer channel 0 (or list index shift)
    int* chanList;            // entry k: image channel of buffer channel k; <0 = none
    ekColorModel colorModel;  // colour model of the caller's data; 0 = none given
    int32_t reserved;         // flags (ekConfigFlag values OR-ed); 0 = none

    // Zero-filled: no type, order, space or colour model, no channels.
    ekConfig();
    ekConfig(ekType type, ekOrder order, int nchans, int* chanList = nullptr, int chanOffset = 0,
             ekCoordSpace coordSpace = ekCoordSpace(0), ekColorModel colorModel = ekColorModel(0));
    // The image's own layout, read through its getters (which bring it up to
    // date). A null image gives the zero-filled record of ekConfig().
    explicit ekConfig(ekImage* image);
    ekConfig(const ekConfig& c) = default;
    ekConfig& operator=(const ekConfig& c) = default;
    ~ekConfig() = default;

    // Image channel of buffer channel i; -1 outside 0..nchans-1. With a list
    // it is chanList[i + chanOffset] (a negative entry passes through);
    // without one i + chanOffset, clamped to INT32_MAX.
    int mapChan(int i) const;
    int operator[](int i) const { return mapChan(i); }
    // out[m] = the buffer channel that holds image channel m (or -1), m < n.
    // When two buffer channels hold the same image channel the higher wins.
    void invert(int n, int* out) const;
    // 1 when no two buffer channels map to the same image channel.
    int isInvertable() const;
    // out[k] = mapChan(in[k]) for k < n.
    void compose(int n, const int* in, int* out) const;
};

// ---------------------------------------------------------------------------
// One multi-channel value of a data type; owns its elements and reads and
// writes them as doubles. Elements are packed as an interleaved pixel (ekBit:
// element i is bit 7-(i&7) of byte i>>3). A failed allocation leaves the pixel
// empty (nc 0, no storage).
class EKS_API ekPixel {
public:
    ekPixel(ekType type = ekAnyType, int nc = 0, const void* data = nullptr);
    ekPixel(const ekPixel& p);
    ekPixel& operator=(const ekPixel& p);
    ~ekPixel();

    // Types the pixel and sizes it for nc elements, copying them from data
    // when given (data may point into this pixel's own storage); fresh
    // elements without data are 0. ekAnyType, a value that is not one of the
    // nine types, or nc <= 0 empties it (nc 0, the type recorded as given).
    void set(ekType type, int nc, const void* data);
    // This pixel becomes src converted to type with nc elements (src's count
    // when 0); element i comes from src element map[i] (i without a map).
    // src may be this pixel. As in set, an untyped result or a count below 1
    // leaves the pixel empty.
    void convert(const ekPixel& src, ekType type, int nc = 0, const int* map = nullptr);

    // Element i as a double; the index is clamped to the pixel, so a read past
    // the end repeats the last element. 0.0 for an empty pixel.
    double getElem(int i) const;
    double operator[](int i) const { return getElem(i); }
    // Stores v converted to the pixel's type, growing the pixel when i >= nc
    // (an untyped pixel becomes ekDouble; new elements between are 0; a
    // negative i does nothing). Integers keep the low bits of the value
    // truncated toward zero; NaN, infinities and values whose truncation does
    // not fit 64 bits store 0. ekFloat rounds to nearest (beyond the float
    // range: +-inf). ekBit stores 1 when the low 32 bits of the truncation are
    // not 0.
    void setElem(double v, int i);
    double minElem() const;
    double maxElem() const;

    int operator==(const ekPixel& p) const;
    int operator!=(const ekPixel& p) const;

    int nc() const { return nc_; }
    ekType type() const { return type_; }
    void* elems() const { return elems_; }
    operator void*() const { return elems_; }

private:
    ekType type_;
    int32_t nc_;
    unsigned char* elems_;  // owned; ekDataSize(type_, nc_) bytes, null when empty
};

// A typed buffer of up to four dimensions that owns its memory or wraps the
// caller's. Strides are in bytes; for ekBit the first index counts bytes.
//
// Copying (construction or assignment from another buffer) makes this buffer
// wrap the other's memory without owning it: the source keeps ownership and
// releases it exactly once, so the copy must not be used after the source is
// gone or has reallocated. Assignment first releases this buffer's own memory,
// unless the source wraps exactly that memory, which then stays owned here.
//
// Owned memory is kept on a resize while it is large enough and the saving
// stays below the slack; wrapped caller memory is kept while it is large
// enough and otherwise replaced by owned memory (the caller's is left alone).
// New memory is uninitialised; contents are not carried over. A failed
// allocation, a negative dimension, or a byte size that does not fit 32 bits
// leaves the buffer without memory (data() null, allocated 0). Wrapping null
// data allocates owned memory instead.
class EKS_API ekBuffer {
public:
    ekBuffer();
    ekBuffer(int d0, int slack);
    ekBuffer(ekType type, int d0, int d1 = 1, int d2 = 1, int d3 = 1);
    ekBuffer(void* data, ekType type, int d0, int d1 = 1, int d2 = 1, int d3 = 1);
    ekBuffer(const ekBuffer& b);
    ekBuffer& operator=(const ekBuffer& b);
    ~ekBuffer();

    ekType getDataType() const { return type_; }
    int getDimension(int i) const { return dims_[i]; }
    void* data() const { return data_; }
    int getAllocated() const { return allocated_; }

    void* operator()(int i) const { return data_ + ptrdiff_t(i) * strides_[0]; }
    void* operator()(int i, int j) const {
        return data_ + ptrdiff_t(i) * strides_[0] + ptrdiff_t(j) * strides_[1];
    }
    void* operator()(int i, int j, int k) const {
        return data_ + ptrdiff_t(i) * strides_[0] + ptrdiff_t(j) * strides_[1] +
               ptrdiff_t(k) * strides_[2];
    }
    void* operator()(int i, int j, int k, int l) const {
        return data_ + ptrdiff_t(i) * strides_[0] + ptrdiff_t(j) * strides_[1] +
               ptrdiff_t(k) * strides_[2] + ptrdiff_t(l) * strides_[3];
    }

    void* resize(int d0);
    void* resize(int d0, int d1, int d2, int d3);

private:
    EKS_LOCAL void init();
    EKS_LOCAL void checkSize();

    ekType type_;
    int32_t dims_[4];
    int32_t strides_[4];
    unsigned char* owned_;  // memory this buffer allocated; null when wrapping
    int32_t slack_;
    int32_t allocated_;
    unsigned char* data_;  // memory in use: owned_ or the caller's
};

#endif  // EKS_CORE_H
