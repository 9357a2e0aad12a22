#include "convert/reference.h"

#include <math.h>

namespace reference {
namespace {

enum Colour { kRed, kBlue, kGreenRedLine, kGreenBlueLine };

Colour ColourAt(long x, long y) {
    if (y % 2 == 0) return x % 2 == 0 ? kRed : kGreenRedLine;
    return x % 2 == 1 ? kBlue : kGreenBlueLine;
}

struct Neighbours {
    unsigned sum = 0, count = 0;
};

// The listed neighbours of (x, y) that lie inside the image.
Neighbours Gather(const Bytes& src, long w, long h, long x, long y, const long (*offsets)[2],
                  int n) {
    Neighbours r;
    for (int i = 0; i < n; i++) {
        long nx = x + offsets[i][0], ny = y + offsets[i][1];
        if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
        r.sum += src[ny * w + nx];
        r.count++;
    }
    return r;
}

const long kOrthogonal[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
const long kDiagonal[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
const long kHorizontal[2][2] = {{-1, 0}, {1, 0}};
const long kVertical[2][2] = {{0, -1}, {0, 1}};

// 4 -> sum >> 2, 3 -> sum / 3, 2 -> sum >> 1, 1 -> the value; none -> 0.
unsigned Average(Neighbours n) {
    if (n.count == 4) return n.sum >> 2;
    if (n.count == 3) return n.sum / 3;
    if (n.count == 2) return n.sum >> 1;
    if (n.count == 1) return n.sum;
    return 0;
}

unsigned GreenAtGreen(unsigned sample, Neighbours diag) {
    if (diag.count == 4) return (diag.sum >> 3) + (sample >> 1);
    if (diag.count == 2) return (diag.sum >> 2) + (sample >> 1);
    if (diag.count == 1) return (sample + diag.sum) >> 1;
    return sample;
}

// Output byte offset of pixel (x, source line y) in a bottom-up picture.
size_t At(uint32_t w, uint32_t h, uint32_t x, uint32_t y, unsigned bytesPerPixel) {
    return ((size_t)(h - 1 - y) * w + x) * bytesPerPixel;
}

unsigned Sample16(const Bytes& src, size_t i) {
    return src[2 * i] | (src[2 * i + 1] << 8);
}

// Interlaced line order: (source line, output line) pairs.
template <typename F>
void ForFieldLines(uint32_t h, F f) {
    uint32_t half = h / 2;
    uint32_t y = h;  // next source line is y - 1, from the bottom upward
    for (uint32_t i = 0; i < half; i++) f(--y, 2 * i + 1);
    for (uint32_t i = 0; i < half; i++) f(--y, 2 * i);
}

int Clamp(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

}  // namespace

void Bayer(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    for (uint32_t y = 0; y < h; y++) {
        for (uint32_t x = 0; x < w; x++) {
            unsigned s = src[(size_t)y * w + x];
            unsigned b = 0, g = 0, r = 0;
            Neighbours orth = Gather(src, w, h, x, y, kOrthogonal, 4);
            Neighbours diag = Gather(src, w, h, x, y, kDiagonal, 4);
            Neighbours hor = Gather(src, w, h, x, y, kHorizontal, 2);
            Neighbours ver = Gather(src, w, h, x, y, kVertical, 2);
            switch (ColourAt(x, y)) {
                case kRed:
                    r = s, g = Average(orth), b = Average(diag);
                    break;
                case kBlue:
                    b = s, g = Average(orth), r = Average(diag);
                    break;
                case kGreenRedLine:
                    g = GreenAtGreen(s, diag), r = Average(hor), b = Average(ver);
                    break;
                case kGreenBlueLine:
                    g = GreenAtGreen(s, diag), r = Average(ver), b = Average(hor);
                    break;
            }
            size_t o = At(w, h, x, y, 3);
            dst[o] = (uint8_t)b, dst[o + 1] = (uint8_t)g, dst[o + 2] = (uint8_t)r;
        }
    }
}

void BayerTable(const Bytes& src, uint32_t w, uint32_t h, const uint8_t* table, Bytes& dst) {
    Bayer(src, w, h, dst);
    for (size_t i = 0; i < (size_t)w * h; i++) {
        size_t entry = ((size_t)dst[3 * i] << 16) + ((size_t)dst[3 * i + 1] << 8) + dst[3 * i + 2];
        for (int k = 0; k < 3; k++) dst[3 * i + k] = table[3 * entry + k];
    }
}

void Uyvy(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    for (uint32_t y = 0; y < h; y++) {
        for (uint32_t g = 0; g < w / 2; g++) {
            const uint8_t* q = &src[(size_t)y * 2 * w + 4 * g];
            int u = q[0] - 128, v = q[2] - 128;
            for (int k = 0; k < 2; k++) {
                int luma = (q[1 + 2 * k] - 16) * 255 / 219;
                size_t o = At(w, h, 2 * g + k, y, 3);
                dst[o] = (uint8_t)Clamp(luma + u * 121 / 60);
                dst[o + 1] = (uint8_t)Clamp(luma - (u * 20 / 51 + v * 414 / 509));
                dst[o + 2] = (uint8_t)Clamp(luma + v * 407 / 255);
            }
        }
    }
}

void Mono16Shift(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            dst[At(w, h, x, y, 1)] = (uint8_t)((Sample16(src, (size_t)y * w + x) >> 4) & 0xFF);
}

uint8_t Log10Entry(unsigned i) {
    if (i == 0) return 0;
    return (uint8_t)(log((i + 25) * 0.04) * 255 / log(41.92));
}

uint8_t Log12Entry(unsigned i) {
    if (i == 0) return 0;
    return (uint8_t)(log((i + 100) * 0.01) * 255 / log(41.95));
}

void Mono10Log(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            dst[At(w, h, x, y, 1)] = Log10Entry(Sample16(src, (size_t)y * w + x) & 0x3FF);
}

void Mono12Log(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            dst[At(w, h, x, y, 1)] = Log12Entry(Sample16(src, (size_t)y * w + x) & 0xFFF);
}

void Mono12LogInterlaced(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    ForFieldLines(h, [&](uint32_t from, uint32_t to) {
        for (uint32_t x = 0; x < w; x++)
            dst[(size_t)to * w + x] = Log12Entry(Sample16(src, (size_t)from * w + x) & 0xFFF);
    });
}

void MonoCopy(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    for (uint32_t k = 0; k < h; k++)
        for (uint32_t x = 0; x < w; x++) dst[(size_t)k * w + x] = src[(size_t)(h - 1 - k) * w + x];
}

void FieldMerge(const Bytes& src, uint32_t w, uint32_t h, Bytes& dst) {
    ForFieldLines(h, [&](uint32_t from, uint32_t to) {
        for (uint32_t x = 0; x < w; x++) dst[(size_t)to * w + x] = src[(size_t)from * w + x];
    });
}

void Quazi(const Bytes& src, uint32_t w, uint32_t h, uint8_t channel, Bytes& dst) {
    if (channel > 2) return;
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) dst[At(w, h, x, y, 3) + channel] = src[(size_t)y * w + x];
}

}  // namespace reference
