// The logarithmic 10- and 12-bit to 8-bit tables, and their recast for the
// AVX-512 kernel (kernels.h, LogBlocks).
//
// Entry i >= 1 is ln((i + offset) * step) * 255 / ln(top), truncated toward
// zero, entry 0 is 0. The top entry's argument equals the divisor's, so it is
// exactly 255; it is written as such rather than left to the rounding of a
// division of two equal logarithms. Every other entry lies at least 8e-5 from
// an integer, far more than any difference between mathematical libraries, so
// the tables come out the same on every system.
#include <math.h>
#include <string.h>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/kernels.h"

namespace tav {
namespace {

using convert_detail::LogBlocks;

inline unsigned BlockShift(unsigned h) {
    unsigned s = 0;
    while (h >> s) s++;  // 1 + floor(log2 h), 0 for h = 0
    return s;
}

// Cuts the table into blocks and checks the result against every entry.
void Recast(const uint8_t* entry, unsigned n, LogBlocks* b) {
    memset(b->base, 0, sizeof b->base);
    memset(b->rise, 0xFF, sizeof b->rise);
    for (unsigned h = 0; h < 32; h++) b->shift[h] = (uint16_t)BlockShift(h);
    b->exact = n <= 4096;
    for (unsigned x = 0; x < n && b->exact; x++) {
        unsigned s = b->shift[x >> 7];
        unsigned j = (x >> s) + 64 * s, lo = x & ((1u << s) - 1);
        if (lo == 0) {
            b->base[j] = entry[x];
            b->rise[j] = (uint8_t)(1u << s);
        } else if (entry[x] != b->base[j] && b->rise[j] == (1u << s)) {
            b->rise[j] = (uint8_t)lo;
        }
    }
    for (unsigned x = 0; x < n && b->exact; x++) {
        unsigned s = b->shift[x >> 7];
        unsigned j = (x >> s) + 64 * s, lo = x & ((1u << s) - 1);
        b->exact = entry[x] == b->base[j] + (lo >= b->rise[j] ? 1 : 0);
    }
}

template <unsigned N>
struct LogTable {
    uint8_t entry[N];
    LogBlocks blocks;
    LogTable(double offset, double step, double top) {
        entry[0] = 0;
        double divisor = log(top);
        for (unsigned i = 1; i < N - 1; i++)
            entry[i] = (uint8_t)(log((i + offset) * step) * 255 / divisor);
        entry[N - 1] = 255;
        Recast(entry, N, &blocks);
    }
};

// Built once, on first use; the language makes the construction of a local
// static safe when several threads arrive at once.
const LogTable<1024>& Table10() {
    static const LogTable<1024> table(25, 0.04, 41.92);
    return table;
}

const LogTable<4096>& Table12() {
    static const LogTable<4096> table(100, 0.01, 41.95);
    return table;
}

}  // namespace

const uint8_t* LogTable10() {
    return Table10().entry;
}
const uint8_t* LogTable12() {
    return Table12().entry;
}

namespace convert_detail {

const LogBlocks& LogBlocks10() {
    return Table10().blocks;
}
const LogBlocks& LogBlocks12() {
    return Table12().blocks;
}

}  // namespace convert_detail
}  // namespace tav
