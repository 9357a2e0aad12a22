// The logarithmic 10- and 12-bit to 8-bit tables.
//
// Entry i >= 1 is ln((i + offset) * step) * 255 / ln(top), truncated toward
// zero, entry 0 is 0. The top entry's argument equals the divisor's, so it is
// exactly 255; it is written as such rather than left to the rounding of a
// division of two equal logarithms. Every other entry lies at least 8e-5 from
// an integer, far more than any difference between mathematical libraries, so
// the tables come out the same on every system.
#include <math.h>

#include "acquisition/convert/convert.h"

namespace tav {
namespace {

template <int N>
struct LogTable {
    uint8_t entry[N];
    LogTable(double offset, double step, double top) {
        entry[0] = 0;
        double divisor = log(top);
        for (int i = 1; i < N - 1; i++)
            entry[i] = (uint8_t)(log((i + offset) * step) * 255 / divisor);
        entry[N - 1] = 255;
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

}  // namespace tav
