// Fuzzes BayerToBGR24Table: frames of any size, on every instruction-set path,
// against the reference conversion, through a 48 MiB table of mixed entries.
#include "fuzz/convert_fuzz.h"

namespace {

const uint8_t* Table() {
    static std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(3u << 24);
        uint32_t x = 1;
        for (auto& v : t) v = (uint8_t)((x = x * 1664525 + 1013904223) >> 24);
        return t;
    }();
    return table.data();
}

void Fast(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::BayerToBGR24Table(s, d, w, h, Table());
}

void Oracle(const std::vector<uint8_t>& s, uint32_t w, uint32_t h, std::vector<uint8_t>& d) {
    reference::BayerTable(s, w, h, Table(), d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return convert_fuzz::Run(data, size, 1, 3, Fast, Oracle);
}
