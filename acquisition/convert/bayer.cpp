// Bilinear colour reconstruction of the camera's Bayer mosaic.
//
// Frames of the window rules (even width from 4, even height from 2) go
// through the row kernels: each line's inner pixels in one vectorised pass,
// then the few pixels whose neighbour counts differ (the first and last
// column, and green at the red and blue pixels of the first and last line)
// by the edge rules. Any other size takes the per-pixel rules with bounds
// tests, which stay inside both buffers whatever the size.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"
#include "acquisition/convert/kernels.h"

namespace tav {
namespace {

using convert_detail::BayerRowFn;

// Mean of n neighbours as the reconstruction rounds it: shifts for 4 and 2, a
// division rounding down for 3, the value itself for 1; no neighbour gives 0.
inline unsigned Mean(unsigned sum, unsigned n) {
    switch (n) {
        case 4:
            return sum >> 2;
        case 3:
            return sum / 3;
        case 2:
            return sum >> 1;
        case 1:
            return sum;
        default:
            return 0;
    }
}

// Green at a green pixel: smoothed with its diagonal (green) neighbours.
inline unsigned SmoothedGreen(unsigned sample, unsigned sum, unsigned n) {
    switch (n) {
        case 4:
            return (sum >> 3) + (sample >> 1);
        case 2:
            return (sum >> 2) + (sample >> 1);
        case 1:
            return (sample + sum) >> 1;
        default:
            return sample;
    }
}

// Any pixel of any frame size: counts the neighbours that lie inside.
void PixelByRules(const uint8_t* src, uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint8_t* px) {
    const uint8_t* c = src + (size_t)y * w;
    const uint8_t* u = y > 0 ? c - w : nullptr;
    const uint8_t* d = y + 1 < h ? c + w : nullptr;
    bool left = x > 0, right = x + 1 < w;
    unsigned hs = 0, hn = 0, vs = 0, vn = 0, ds = 0, dn = 0;
    if (left) hs += c[x - 1], hn++;
    if (right) hs += c[x + 1], hn++;
    const uint8_t* lines[2] = {u, d};
    for (const uint8_t* line : lines) {
        if (!line) continue;
        vs += line[x], vn++;
        if (left) ds += line[x - 1], dn++;
        if (right) ds += line[x + 1], dn++;
    }
    unsigned s = c[x];
    bool oddLine = (y & 1) != 0;
    bool carrier = ((x & 1) != 0) == oddLine;
    if (carrier) {
        uint8_t own = (uint8_t)s, other = (uint8_t)Mean(ds, dn);
        px[0] = oddLine ? own : other;
        px[1] = (uint8_t)Mean(hs + vs, hn + vn);
        px[2] = oddLine ? other : own;
    } else {
        uint8_t hm = (uint8_t)Mean(hs, hn), vm = (uint8_t)Mean(vs, vn);
        px[0] = oddLine ? hm : vm;
        px[1] = (uint8_t)SmoothedGreen(s, ds, dn);
        px[2] = oddLine ? vm : hm;
    }
}

void BayerAnySize(const uint8_t* src, uint8_t* dst, uint32_t w, uint32_t h) {
    for (uint32_t y = 0; y < h; y++) {
        uint8_t* out = dst + (size_t)(h - 1 - y) * w * 3;
        for (uint32_t x = 0; x < w; x++) PixelByRules(src, w, h, x, y, out + 3 * (size_t)x);
    }
}

// First and last pixel of an inner line (both neighbour lines present) of an
// even-width frame.
inline void InnerLineEnds(const uint8_t* u, const uint8_t* c, const uint8_t* d, uint32_t w,
                          bool oddLine, uint8_t* out) {
    uint8_t* first = out;
    uint8_t* last = out + 3 * (size_t)(w - 1);
    uint32_t l = w - 1, p = w - 2;
    if (!oddLine) {
        // x = 0 is red: three orthogonal, two diagonal neighbours.
        first[0] = (uint8_t)(((unsigned)u[1] + d[1]) >> 1);
        first[1] = (uint8_t)(((unsigned)c[1] + u[0] + d[0]) / 3);
        first[2] = c[0];
        // x = w - 1 is a red-line green: two diagonals, one horizontal.
        last[0] = (uint8_t)(((unsigned)u[l] + d[l]) >> 1);
        last[1] = (uint8_t)((((unsigned)u[p] + d[p]) >> 2) + (c[l] >> 1));
        last[2] = c[p];
    } else {
        // x = 0 is a blue-line green.
        first[0] = c[1];
        first[1] = (uint8_t)((((unsigned)u[1] + d[1]) >> 2) + (c[0] >> 1));
        first[2] = (uint8_t)(((unsigned)u[0] + d[0]) >> 1);
        // x = w - 1 is blue.
        last[0] = c[l];
        last[1] = (uint8_t)(((unsigned)c[p] + u[l] + d[l]) / 3);
        last[2] = (uint8_t)(((unsigned)u[p] + d[p]) >> 1);
    }
}

// One source line y of an even-sized frame into its output line.
// The previous output line of a large picture, still to be written out past
// the caches: written piece by piece while the next line is made, so that
// the memory's writing overlaps the arithmetic instead of following it.
struct PendingLine {
    convert_detail::StreamCopyFn stream;
    const uint8_t* from;
    uint8_t* to;
    size_t bytes;
};

// Pixels per piece of a line when a pending line is written in between.
// Measured on 2048- and 4096-pixel lines: 1024 is 5-10% faster than 512,
// 1536 no faster, and pieces of 128 take twice as long: on the processor measured,
// finer interleaving of the arithmetic with the writing made it slower, not
// faster.
const uint32_t kPiece = 1024;

// Where piece k of `pieces` of the pending line starts (piece k - 1 ends),
// in bytes from its start: on a cache line boundary of the destination (but the last), so that
// no cache line is written past the caches in two pieces.
inline size_t PieceEnd(const PendingLine& line, uint32_t k, uint32_t pieces) {
    if (k == 0) return 0;
    if (k >= pieces) return line.bytes;
    const size_t mask = convert_detail::kCacheLine - 1;
    uintptr_t at = ((uintptr_t)line.to + line.bytes * k / pieces + mask) & ~(uintptr_t)mask;
    size_t end = at - (uintptr_t)line.to;
    return end < line.bytes ? end : line.bytes;
}

inline void InnerPixels(BayerRowFn row, const uint8_t* u, const uint8_t* c, const uint8_t* d,
                        uint8_t* out, uint32_t w, bool oddLine, const PendingLine* pending) {
    if (!pending) return row(u, c, d, out, w, oddLine);
    uint32_t pieces = (w - 2 + kPiece - 1) / kPiece;
    for (uint32_t k = 0; k < pieces; k++) {
        // Pixels x0 .. x1 - 1, x0 odd: the kernel sees the line from x0 - 1
        // (even, so its parities hold) over an even width.
        uint32_t x0 = 1 + k * kPiece;
        uint32_t x1 = x0 + kPiece < w - 1 ? x0 + kPiece : w - 1;
        size_t at = x0 - 1;
        row(u + at, c + at, d + at, out + 3 * at, x1 - x0 + 2, oddLine);
        size_t b0 = PieceEnd(*pending, k, pieces), b1 = PieceEnd(*pending, k + 1, pieces);
        pending->stream(pending->to + b0, pending->from + b0, b1 - b0);
    }
}

inline void RegularLine(const uint8_t* src, uint32_t w, uint32_t h, uint32_t y, uint8_t* out,
                        BayerRowFn row, const PendingLine* pending = nullptr) {
    const uint8_t* c = src + (size_t)y * w;
    bool top = y == 0, bottom = y + 1 == h;
    const uint8_t* u = top ? c + w : c - w;
    const uint8_t* d = bottom ? c - w : c + w;
    bool oddLine = (y & 1) != 0;
    InnerPixels(row, u, c, d, out, w, oddLine, pending);
    if (!top && !bottom) {
        InnerLineEnds(u, c, d, w, oddLine, out);
        return;
    }
    // First or last line: the kernel saw the one neighbour line twice, exact
    // for every average but green at the red (first line) or blue (last line)
    // pixels, which have three orthogonal neighbours.
    const uint8_t* nb = top ? d : u;
    for (uint32_t x = oddLine ? 1 : 2; x + 1 < w; x += 2)
        out[3 * (size_t)x + 1] = (uint8_t)(((unsigned)c[x - 1] + c[x + 1] + nb[x]) / 3);
    PixelByRules(src, w, h, 0, y, out);
    PixelByRules(src, w, h, w - 1, y, out + 3 * (size_t)(w - 1));
}

// Room for one output line of up to 8192 pixels on the stack.
const size_t kLineBuffer = 3 * 8192;

bool RegularSize(uint32_t w, uint32_t h) {
    return w >= 4 && w % 2 == 0 && h >= 2 && h % 2 == 0;
}

}  // namespace

void BayerToBGR24(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return;
    if (!RegularSize(width, height)) return BayerAnySize(src, dst, width, height);
    BayerRowFn row = convert_detail::ActiveKernels().bayer;
    size_t lineBytes = (size_t)width * 3;
    convert_detail::StreamCopyFn stream =
        (size_t)width * height * 4 >= StreamThreshold() && lineBytes <= kLineBuffer
            ? convert_detail::ActiveKernels().stream
            : nullptr;
    if (!stream) {
        for (uint32_t y = 0; y < height; y++)
            RegularLine(src, width, height, y, dst + (height - 1 - y) * lineBytes, row);
        return;
    }
    // A large picture: each line is made in one of two buffers that stay in
    // the first-level cache and written out past the caches while the next
    // line is made in the other.
    alignas(32) uint8_t lines[2][kLineBuffer];
    for (uint32_t y = 0; y < height; y++) {
        PendingLine previous = {stream, lines[(y + 1) & 1], dst + (height - y) * lineBytes,
                                lineBytes};
        RegularLine(src, width, height, y, lines[y & 1], row, y > 0 ? &previous : nullptr);
    }
    stream(dst, lines[(height - 1) & 1], lineBytes);
    convert_detail::StreamFence();
}

void BayerToBGR24Table(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                       const uint8_t* table) {
    if (width == 0 || height == 0) return;
    if (!RegularSize(width, height)) {
        BayerAnySize(src, dst, width, height);
        for (uint32_t y = 0; y < height; y++) {
            uint8_t* line = dst + (size_t)y * width * 3;
            convert_detail::ActiveKernels().table(line, line, width, table);
        }
        return;
    }
    // Line by line: each line is made in a buffer in the first-level cache and
    // goes through the table from there.
    BayerRowFn row = convert_detail::ActiveKernels().bayer;
    convert_detail::TableRowFn lookUp = convert_detail::ActiveKernels().table;
    alignas(64) uint8_t line[kLineBuffer];
    for (uint32_t y = 0; y < height; y++) {
        uint8_t* out = dst + (size_t)(height - 1 - y) * width * 3;
        uint8_t* made = (size_t)width * 3 <= kLineBuffer ? line : out;
        RegularLine(src, width, height, y, made, row);
        lookUp(made, out, width, table);
    }
}

namespace convert_detail {

void TableRowPortable(const uint8_t* in, uint8_t* out, uint32_t w, const uint8_t* table) {
    uint32_t x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (in != out) {
        // Four-byte reads and writes for all but the last pixel: the fourth
        // byte written lands on the next pixel, which is written next; the
        // fourth byte of an entry is only read below the table's last entry.
        const size_t lastEntry = (1u << 24) - 1;
        for (; x + 1 < w; x++) {
            uint32_t v, e;
            memcpy(&v, in + 3 * (size_t)x, 4);
            size_t i = (size_t)(v & 0xFF) << 16 | (v & 0xFF00) | ((v >> 16) & 0xFF);
            const uint8_t* entry = table + 3 * i;
            if (i < lastEntry)
                memcpy(&e, entry, 4);
            else
                e = entry[0] | (uint32_t)entry[1] << 8 | (uint32_t)entry[2] << 16;
            memcpy(out + 3 * (size_t)x, &e, 4);
        }
    }
#endif
    for (; x < w; x++) {
        const uint8_t* px = in + 3 * (size_t)x;
        const uint8_t* e = table + 3 * (((size_t)px[0] << 16) | ((size_t)px[1] << 8) | px[2]);
        out[3 * (size_t)x] = e[0];
        out[3 * (size_t)x + 1] = e[1];
        out[3 * (size_t)x + 2] = e[2];
    }
}

void BayerRowPortable(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                      uint32_t width, bool oddLine) {
    for (uint32_t x = 1; x + 1 < width; x++)
        BayerInnerPixel(up, cur, down, x, oddLine, out + 3 * (size_t)x);
}

}  // namespace convert_detail
}  // namespace tav
