// Row kernels of the conversions, one set per instruction-set path, and the
// exact per-pixel rules they share. Internal to the conversions.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tav {
namespace convert_detail {

// ---- Bayer ---------------------------------------------------------------------
// One mosaic line's inner pixels, x = 1 .. width - 2, written as blue, green,
// red at out + 3 * x. `up`, `cur` and `down` are the lines above, at and below;
// on the first and last line the caller passes the one existing neighbour line
// for both, which gives the exact two-neighbour averages there (only green at
// the red and blue pixels of those lines needs a fix, made by the caller).
// oddLine: the line carries green and blue (y odd). Requires width >= 3.
typedef void (*BayerRowFn)(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                           uint32_t width, bool oddLine);
void BayerRowPortable(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                      uint32_t width, bool oddLine);
void BayerRowSse2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine);
void BayerRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine);
void BayerRowAvx512(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                    uint32_t width, bool oddLine);

// Inner pixel x of a line with both neighbour lines: the bilinear rules with
// four orthogonal and four diagonal neighbours.
inline void BayerInnerPixel(const uint8_t* u, const uint8_t* c, const uint8_t* d, uint32_t x,
                            bool oddLine, uint8_t* px) {
    unsigned hs = (unsigned)c[x - 1] + c[x + 1];
    unsigned vs = (unsigned)u[x] + d[x];
    unsigned ds = (unsigned)u[x - 1] + u[x + 1] + d[x - 1] + d[x + 1];
    unsigned s = c[x];
    bool carrier = ((x & 1) != 0) == oddLine;  // red on even lines, blue on odd lines
    if (carrier) {
        uint8_t own = (uint8_t)s, other = (uint8_t)(ds >> 2);
        px[0] = oddLine ? own : other;
        px[1] = (uint8_t)((hs + vs) >> 2);
        px[2] = oddLine ? other : own;
    } else {
        uint8_t h = (uint8_t)(hs >> 1), v = (uint8_t)(vs >> 1);
        px[0] = oddLine ? h : v;
        px[1] = (uint8_t)((ds >> 3) + (s >> 1));
        px[2] = oddLine ? v : h;
    }
}

// The colour table's entry (table + 3 * (B << 16 | G << 8 | R)) for each of w
// pixels of `in`, to `out` (which may be `in`). The table holds 3 * 2^24 bytes
// and is read nowhere else.
typedef void (*TableRowFn)(const uint8_t* in, uint8_t* out, uint32_t w, const uint8_t* table);
void TableRowPortable(const uint8_t* in, uint8_t* out, uint32_t w, const uint8_t* table);
void TableRowAvx512(const uint8_t* in, uint8_t* out, uint32_t w, const uint8_t* table);

// ---- YUV 4:2:2 -----------------------------------------------------------------
// `groups` groups of U, Y0, V, Y1 to 2 * groups pixels of blue, green, red.
typedef void (*UyvyRowFn)(const uint8_t* src, uint8_t* out, uint32_t groups);
void UyvyRowPortable(const uint8_t* src, uint8_t* out, uint32_t groups);
void UyvyRowSse2(const uint8_t* src, uint8_t* out, uint32_t groups);
void UyvyRowAvx2(const uint8_t* src, uint8_t* out, uint32_t groups);
void UyvyRowAvx512(const uint8_t* src, uint8_t* out, uint32_t groups);
// The same, writing past the caches: out aligned to 16 bytes and groups a
// multiple of 16 (the kernel of a path that has one; see PathKernels).
void UyvyStreamAvx2(const uint8_t* src, uint8_t* out, uint32_t groups);
const uint32_t kUyvyStreamGroups = 16;

// The per-byte terms of the conversion, each truncated toward zero.
inline int UyvyLuma(int y) {
    return (y - 16) * 255 / 219;
}
inline int UyvyBlueU(int u) {
    return (u - 128) * 121 / 60;
}
inline int UyvyGreenU(int u) {
    return (u - 128) * 20 / 51;
}
inline int UyvyGreenV(int v) {
    return (v - 128) * 414 / 509;
}
inline int UyvyRedV(int v) {
    return (v - 128) * 407 / 255;
}
inline uint8_t ClampByte(int v) {
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// ---- 16-bit samples ------------------------------------------------------------
// n little-endian samples to (sample >> 4) & 0xFF.
typedef void (*ShiftRowFn)(const uint8_t* src, uint8_t* out, size_t n);
void ShiftRowPortable(const uint8_t* src, uint8_t* out, size_t n);
void ShiftRowSse2(const uint8_t* src, uint8_t* out, size_t n);
void ShiftRowAvx2(const uint8_t* src, uint8_t* out, size_t n);

// ---- Logarithmic tables -----------------------------------------------------
// n little-endian samples, masked with `mask`, through the table. The kernel
// of the portable, SSE2 and AVX2 paths: vector gathers were measured slower
// than these loads.
void LogRow(const uint8_t* src, uint8_t* out, size_t n, const uint8_t* table, unsigned mask);

// A logarithmic table recast so that byte permutes can read it. A table of
// 1024 or 4096 entries does not fit the 128 bytes one permute reads, but it
// rises slowly: above sample 128 it steps by at most one over a stretch of
// samples that doubles with each octave. So each octave of samples from 128
// up is cut into 64 blocks (of 2, 4, 8, ... samples), and a block is
// described by two bytes, its first entry and the offset inside it where the
// entry rises by one (the block's width when it does not). Samples below 128
// are blocks of one sample. For sample x with h = x >> 7:
//   s = shift[h]  (0 for h = 0, otherwise 1 + floor(log2 h))
//   j = (x >> s) + 64 * s,  lo = x & ((1 << s) - 1)
//   entry = base[j] + (lo >= rise[j])
// j stays below 448, so base and rise are each four 128-byte permutes.
// The recast is checked against every entry of the table when it is built;
// `exact` is false, and the kernel unused, if any entry differed.
struct LogBlocks {
    alignas(64) uint8_t base[512];
    alignas(64) uint8_t rise[512];
    alignas(64) uint16_t shift[32];
    bool exact;
};
// Built once with the tables.
const LogBlocks& LogBlocks10();
const LogBlocks& LogBlocks12();

// LogRow with AVX-512 byte permutes, 64 samples per step; `table` serves the
// last samples of a line.
void LogRowAvx512(const uint8_t* src, uint8_t* out, size_t n, const LogBlocks& blocks,
                  const uint8_t* table, unsigned mask);
// The form the paths' logarithmic kernels share, and LogRow in it.
typedef void (*LogRowFn)(const uint8_t* src, uint8_t* out, size_t n, const LogBlocks& blocks,
                         const uint8_t* table, unsigned mask);
void LogRowTable(const uint8_t* src, uint8_t* out, size_t n, const LogBlocks& blocks,
                 const uint8_t* table, unsigned mask);

// ---- Writing large pictures -------------------------------------------------
// When a conversion's source and picture together are larger than the
// last-level cache can keep, the picture is not in the caches when the
// application reads it, so the conversions write it with stores that bypass
// the caches: no line is read from memory only to be overwritten, and the
// caches keep the source. Smaller pictures are written normally, ready in
// the cache for the application and for the next frame into the same buffer.
// Measured on the development machine: a 1280 x 1024 colour picture (6.5 MiB
// with its source) is faster written normally; a 2048 x 2048 one (16 to 20 MiB)
// faster past the caches (Bayer 0.75 against 0.95 ms, YUV 0.63 against
// 0.78 ms), as are the 4096 x 3072 ones and a 4096 x 3072 8-bit copy (25 MiB).
// The limit compares source plus picture bytes; the one in force is
// StreamThreshold() (convert_path.h).
const size_t kStreamBytes = 16u << 20;

// n bytes to dst (any alignment) with cache-bypassing stores where the path
// has them; StreamFence after the last copy of a picture makes those stores
// visible to other threads in order. Only whole 64-byte cache lines of dst go
// past the caches; the bytes before the first and after the last whole line
// are written normally. A line written partly past the caches and partly
// through them, or past them in two pieces at different times, is written to
// memory twice and read once: measured, that made large pictures 1.3 times as
// slow as writing them through the caches.
typedef void (*StreamCopyFn)(uint8_t* dst, const uint8_t* src, size_t n);
const size_t kCacheLine = 64;
// The bytes before dst's first whole cache line (at most n).
inline size_t StreamHead(const uint8_t* dst, size_t n) {
    size_t head = (kCacheLine - ((uintptr_t)dst & (kCacheLine - 1))) & (kCacheLine - 1);
    return head < n ? head : n;
}
void StreamCopyPortable(uint8_t* dst, const uint8_t* src, size_t n);
void StreamCopySse2(uint8_t* dst, const uint8_t* src, size_t n);
void StreamCopyAvx2(uint8_t* dst, const uint8_t* src, size_t n);
void StreamFence();

// `lines` lines of `width` bytes with ordinary stores, for a picture that
// stays in the caches: the source lines are `srcStep` bytes apart, the
// picture's `step` bytes (negative: upward). Whole pictures rather than lines,
// since at 640 bytes a line the cost of a call per line shows; for the same
// reason the vector paths copy with their own loops rather than memcpy.
//
// Line y starts LineOffset(y, step) bytes from the first: the line number is
// made signed before it meets the step. (y * step itself converts a negative
// step to unsigned where ptrdiff_t is 32 bits, as in the 32-bit DLL, and the
// pointer then moves by an offset past the end of the address space.)
inline ptrdiff_t LineOffset(uint32_t y, ptrdiff_t step) {
    return (ptrdiff_t)y * step;
}
typedef void (*CopyLinesFn)(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                            size_t width, uint32_t lines);
void CopyLinesPortable(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                       size_t width, uint32_t lines);
void CopyLinesAvx2(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                   size_t width, uint32_t lines);
void CopyLinesAvx512(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                     size_t width, uint32_t lines);

// The kernels of one instruction-set path.
struct PathKernels {
    BayerRowFn bayer;
    TableRowFn table;
    UyvyRowFn uyvy;
    UyvyRowFn uyvyStream;  // null: the path writes large YUV pictures through a line buffer
    ShiftRowFn shift;
    StreamCopyFn stream;  // null on the portable path: there pictures are written directly
    CopyLinesFn copyLines;
    LogRowFn log;  // the AVX-512 one reads the table's block form
};

// The kernels of the active path.
const PathKernels& ActiveKernels();
// Its logarithmic row kernel for a table: the plain lookup when the table's
// block form is not exact.
LogRowFn ActiveLogRow(const LogBlocks& blocks);

}  // namespace convert_detail
}  // namespace tav
