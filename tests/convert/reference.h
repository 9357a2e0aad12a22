// The conversions written straight from their rules, pixel by pixel, with no
// regard for speed: the oracle the library's fast routines are compared with.
#pragma once

#include <stdint.h>

#include <vector>

namespace reference {

typedef std::vector<uint8_t> Bytes;

// Each routine writes into `dst`, which the caller sizes (and may pre-fill, to
// see which bytes a routine leaves alone).
void Bayer(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void BayerTable(const Bytes& src, uint32_t w, uint32_t h, const uint8_t* table, Bytes& dst);
void Uyvy(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void Mono16Shift(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void Mono10Log(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void Mono12Log(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void Mono12LogInterlaced(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void MonoCopy(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void FieldMerge(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst);
void Quazi(const Bytes& src, uint32_t w, uint32_t h, uint8_t channel, Bytes& dst);

// Table entries from the logarithm formulas.
uint8_t Log10Entry(unsigned i);
uint8_t Log12Entry(unsigned i);

}  // namespace reference
