// Fuzzes QuaziColourInsert: frames of any size with any channel byte (the
// first byte after the size), against the reference insert.
#include "fuzz/convert_fuzz.h"

namespace {

uint8_t g_channel;

void Fast(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::QuaziColourInsert(s, d, w, h, g_channel);
}

void Oracle(const std::vector<uint8_t>& s, uint32_t w, uint32_t h, std::vector<uint8_t>& d) {
    reference::Quazi(s, w, h, g_channel, d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    // Mostly 0..2, sometimes a channel the picture does not have.
    g_channel = data[size - 1] % 5;
    return convert_fuzz::Run(data, size - 1, 1, 3, Fast, Oracle);
}
