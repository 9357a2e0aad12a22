// The conversions' defining cases: the worked examples and telling values of
// each rule, checked against both the oracle and the library on every
// instruction-set path the machine has.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <stdlib.h>

#include <thread>
#include <vector>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"
#include "acquisition/convert/kernels.h"
#include "convert/reference.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tav::ConvertPath;

// Whole pages of memory, and their access changed: a write or read past a
// picture or table must fault, whatever the system.
#if defined(_WIN32)
size_t PageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}
uint8_t* MapPages(size_t bytes) {
    return (uint8_t*)VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}
bool ProtectPages(uint8_t* p, size_t bytes, bool readable) {
    DWORD old;
    return VirtualProtect(p, bytes, readable ? PAGE_READONLY : PAGE_NOACCESS, &old) != 0;
}
void UnmapPages(uint8_t* p, size_t) {
    VirtualFree(p, 0, MEM_RELEASE);
}
#else
size_t PageSize() {
    return (size_t)sysconf(_SC_PAGESIZE);
}
uint8_t* MapPages(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : (uint8_t*)p;
}
bool ProtectPages(uint8_t* p, size_t bytes, bool readable) {
    return mprotect(p, bytes, readable ? PROT_READ : PROT_NONE) == 0;
}
void UnmapPages(uint8_t* p, size_t bytes) {
    munmap(p, bytes);
}
#endif

std::vector<ConvertPath> Paths() {
    std::vector<ConvertPath> paths;
    for (ConvertPath p : tav::kConvertPaths)
        if (tav::ConvertPathAvailable(p)) paths.push_back(p);
    return paths;
}

// Runs f once per available path, the path forced meanwhile.
template <typename F>
void OnEveryPath(F f) {
    for (ConvertPath p : Paths()) {
        SCOPED_TRACE("path " + std::to_string((int)p));
        ASSERT_TRUE(tav::ForceConvertPath(p));
        f();
    }
    tav::ResetConvertPath();
}

Bytes Bgr(std::initializer_list<std::initializer_list<int>> pixels) {
    Bytes out;
    for (auto& p : pixels)
        for (int v : p) out.push_back((uint8_t)v);
    return out;
}

Bytes Bayer(const Bytes& src, uint32_t w, uint32_t h) {
    Bytes out(3 * (size_t)w * h);
    tav::BayerToBGR24(src.data(), out.data(), w, h);
    return out;
}

Bytes ReferenceBayer(const Bytes& src, uint32_t w, uint32_t h) {
    Bytes out(3 * (size_t)w * h);
    reference::Bayer(src, w, h, out);
    return out;
}

TEST(BayerRules, WorkedFourByTwoMosaic) {
    Bytes src = {10, 20, 30, 40, 50, 60, 70, 80};
    // Output line 0 comes from source line 1 (bottom-up picture).
    Bytes expected = Bgr({{60, 35, 10},
                          {60, 46, 20},
                          {70, 50, 30},
                          {80, 55, 30},
                          {60, 35, 10},
                          {60, 40, 20},
                          {70, 43, 30},
                          {80, 55, 30}});
    EXPECT_EQ(ReferenceBayer(src, 4, 2), expected);
    OnEveryPath([&] { EXPECT_EQ(Bayer(src, 4, 2), expected); });
}

TEST(BayerRules, CornerGreensOfASmallMosaic) {
    Bytes src = {200, 7, 90, 33, 18, 250, 61, 140};
    Bytes out = ReferenceBayer(src, 4, 2);
    // Top-right green (3, 0): output line 1, pixel 3.
    EXPECT_EQ(out[3 * 7 + 1], (33 + 61) >> 1);
    // Bottom-left green (0, 1): output line 0, pixel 0.
    EXPECT_EQ(out[1], (18 + 7) >> 1);
    // Top-left red (0, 0): mean of its right and lower neighbours.
    EXPECT_EQ(out[3 * 4 + 1], (7 + 18) >> 1);
    OnEveryPath([&] { EXPECT_EQ(Bayer(src, 4, 2), out); });
}

TEST(BayerRules, UniformMosaics) {
    const uint32_t w = 40, h = 18;
    OnEveryPath([&] {
        Bytes out = Bayer(Bytes((size_t)w * h, 255), w, h);
        for (uint32_t k = 0; k < h; k++) {
            uint32_t y = h - 1 - k;
            for (uint32_t x = 0; x < w; x++) {
                const uint8_t* px = &out[3 * ((size_t)k * w + x)];
                bool green = (x + y) % 2 == 1;
                bool singleDiagonal = (x == w - 1 && y == 0) || (x == 0 && y == h - 1);
                int g = green && !singleDiagonal ? 254 : 255;
                ASSERT_EQ(px[0], 255) << x << "," << y;
                ASSERT_EQ(px[1], g) << x << "," << y;
                ASSERT_EQ(px[2], 255) << x << "," << y;
            }
        }
        for (int v : {0, 2, 100, 254}) {
            Bytes flat = Bayer(Bytes((size_t)w * h, (uint8_t)v), w, h);
            EXPECT_EQ(flat, Bytes(flat.size(), (uint8_t)v)) << v;
        }
    });
    EXPECT_EQ(ReferenceBayer(Bytes((size_t)w * h, 100), w, h), Bytes(3 * (size_t)w * h, 100));
}

// A full 48 MiB colour table from calloc: its pages cost nothing until written.
struct ZeroTable {
    uint8_t* p = (uint8_t*)calloc(3u << 24, 1);
    ~ZeroTable() { free(p); }
    uint8_t* get() const { return p; }
    uint8_t& operator[](size_t i) { return p[i]; }
};

TEST(BayerRules, TheTablesLastEntryIsReadWithinTheTable) {
    // A white mosaic looks up the last entry, (255, 255, 255), at almost every
    // pixel. The table ends right at a page without access: reading a byte
    // past it faults.
    size_t bytes = 3u << 24, page = PageSize();
    uint8_t* table = MapPages(bytes + page);
    ASSERT_NE(table, nullptr);
    ASSERT_TRUE(ProtectPages(table + bytes, page, false));
    uint8_t* last = table + bytes - 3;
    last[0] = 1, last[1] = 2, last[2] = 3;
    uint8_t* greenEntry = table + 3 * (((size_t)255 << 16) | (254 << 8) | 255);
    greenEntry[0] = 4, greenEntry[1] = 5, greenEntry[2] = 6;
    const uint32_t w = 68, h = 16;
    Bytes src((size_t)w * h, 255);
    Bytes plain = Bayer(src, w, h);
    OnEveryPath([&] {
        Bytes out(plain.size());
        tav::BayerToBGR24Table(src.data(), out.data(), w, h, table);
        for (size_t i = 0; i < (size_t)w * h; i++) {
            bool white = plain[3 * i + 1] == 255;
            ASSERT_EQ(out[3 * i], white ? 1 : 4) << i;
            ASSERT_EQ(out[3 * i + 1], white ? 2 : 5) << i;
            ASSERT_EQ(out[3 * i + 2], white ? 3 : 6) << i;
        }
    });
    UnmapPages(table, bytes + page);
}

TEST(BayerRules, IdentityTableGivesThePlainReconstruction) {
    const uint32_t w = 36, h = 16;
    Bytes src((size_t)w * h);
    for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(i * 37 + (i >> 3));
    Bytes plain = Bayer(src, w, h);
    // Zero-filled tables; the entries the picture uses hold the identity: entry i = (i >> 16, i >>
    // 8, i). An entry looked up at a wrong index reads zeros or another colour.
    ZeroTable identity, swapped;
    for (size_t p = 0; p < (size_t)w * h; p++) {
        const uint8_t* c = &plain[3 * p];
        size_t e = 3 * (((size_t)c[0] << 16) | ((size_t)c[1] << 8) | c[2]);
        identity[e] = c[0], identity[e + 1] = c[1], identity[e + 2] = c[2];
        // A table that swaps red and blue shows the entry's bytes are copied in order.
        swapped[e] = c[2], swapped[e + 1] = c[1], swapped[e + 2] = c[0];
    }
    OnEveryPath([&] {
        Bytes out(3 * (size_t)w * h);
        tav::BayerToBGR24Table(src.data(), out.data(), w, h, identity.get());
        EXPECT_EQ(out, plain);
        tav::BayerToBGR24Table(src.data(), out.data(), w, h, swapped.get());
        for (size_t i = 0; i < (size_t)w * h; i++) {
            ASSERT_EQ(out[3 * i], plain[3 * i + 2]);
            ASSERT_EQ(out[3 * i + 2], plain[3 * i]);
        }
    });
}

Bytes Uyvy(const Bytes& src, uint32_t w, uint32_t h) {
    Bytes out(3 * (size_t)w * h, 0xAA);
    tav::UYVYToBGR24(src.data(), out.data(), w, h);
    return out;
}

TEST(UyvyRules, ExamplesAndClamps) {
    OnEveryPath([] {
        EXPECT_EQ(Uyvy({100, 50, 200, 150}, 2, 1), Bgr({{0, 0, 153}, {100, 108, 255}}));
        EXPECT_EQ(Uyvy({128, 16, 128, 235}, 2, 1), Bgr({{0, 0, 0}, {255, 255, 255}}));
        EXPECT_EQ(Uyvy({128, 0, 128, 0}, 2, 1), Bgr({{0, 0, 0}, {0, 0, 0}}));
        Bytes blue = Uyvy({255, 235, 128, 235}, 2, 1);
        EXPECT_EQ(blue[0], 255);
        EXPECT_EQ(blue[3], 255);
    });
}

TEST(UyvyRules, EveryByteValueMatchesTheFormulas) {
    // Group i carries U = i & 255, V = i >> 8, and both lumas run through all
    // values, so every term meets every byte value on the vector paths too.
    const uint32_t w = 512, h = 256;
    Bytes src(2 * (size_t)w * h);
    for (size_t i = 0; i < (size_t)w * h / 2; i++) {
        src[4 * i] = (uint8_t)i;
        src[4 * i + 1] = (uint8_t)(i >> 8);
        src[4 * i + 2] = (uint8_t)(i >> 8);
        src[4 * i + 3] = (uint8_t)(i * 7);
    }
    Bytes expected(3 * (size_t)w * h);
    reference::Uyvy(src, w, h, expected);
    OnEveryPath([&] { EXPECT_EQ(Uyvy(src, w, h), expected); });
}

TEST(UyvyRules, WritesNothingWithoutRoomOrLines) {
    Bytes src(2 * 64 * 16, 90);
    Bytes out(3 * 64 * 16, 0xAA);
    tav::UYVYToBGR24(src.data(), out.data(), 64, 0);
    EXPECT_EQ(out, Bytes(out.size(), 0xAA));
    // A read-only page: the room test fails and nothing is written (a write
    // would fault).
    uint8_t* page = MapPages(PageSize());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(ProtectPages(page, PageSize(), true));
    tav::UYVYToBGR24(src.data(), page, 32, 16);
    UnmapPages(page, PageSize());
    tav::UYVYToBGR24(src.data(), nullptr, 64, 16);
}

TEST(MonoRules, ShiftKeepsBitsElevenToFour) {
    Bytes src = {0xFF, 0x0F, 0xFF, 0xFF, 0x34, 0x12, 0x0F, 0x00};
    OnEveryPath([&] {
        Bytes out(4);
        tav::Mono16To8Shift(src.data(), out.data(), 4, 1);
        EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0x23, 0x00}));
    });
}

TEST(MonoRules, LogTablesTellingValues) {
    const uint8_t* t10 = tav::LogTable10();
    const uint8_t* t12 = tav::LogTable12();
    EXPECT_EQ(t10[0], 0);
    EXPECT_EQ(t10[1], 2);
    EXPECT_EQ(t10[10], 22);
    EXPECT_EQ(t10[100], 109);
    EXPECT_EQ(t10[512], 209);
    EXPECT_EQ(t10[1000], 253);
    EXPECT_EQ(t10[1023], 255);
    EXPECT_EQ(t12[0], 0);
    EXPECT_EQ(t12[1], 0);
    EXPECT_EQ(t12[2], 1);
    EXPECT_EQ(t12[100], 47);
    EXPECT_EQ(t12[1000], 163);
    EXPECT_EQ(t12[2048], 209);
    EXPECT_EQ(t12[4000], 253);
    EXPECT_EQ(t12[4095], 255);
    for (unsigned i = 0; i < 1024; i++) ASSERT_EQ(t10[i], reference::Log10Entry(i)) << i;
    for (unsigned i = 0; i < 4096; i++) ASSERT_EQ(t12[i], reference::Log12Entry(i)) << i;
}

TEST(MonoRules, LogRoutinesIgnoreTheHighBits) {
    Bytes src = {0x01, 0x04, 0x01, 0x00, 0x02, 0xF0, 0x02, 0x00};
    Bytes out(4);
    tav::Mono10To8Log(src.data(), out.data(), 4, 1);
    EXPECT_EQ(out, (Bytes{2, 2, 5, 5}));
    tav::Mono12To8Log(src.data(), out.data(), 4, 1);
    EXPECT_EQ(out, (Bytes{tav::LogTable12()[0x401], 0, 1, 1}));
}

TEST(MonoRules, LogRoutinesMapEverySampleThroughTheirTable) {
    // All 65536 sample values, high bits included, as one 256 x 256 frame:
    // every block and every rise of the permute kernel's recast is crossed.
    // The recast must be exact, or that kernel would silently not be used.
    ASSERT_TRUE(tav::convert_detail::LogBlocks10().exact);
    ASSERT_TRUE(tav::convert_detail::LogBlocks12().exact);
    Bytes src(2 * 65536);
    for (unsigned v = 0; v < 65536; v++)
        src[2 * v] = (uint8_t)v, src[2 * v + 1] = (uint8_t)(v >> 8);
    OnEveryPath([&] {
        Bytes out10(65536), out12(65536), outInterlaced(65536);
        tav::Mono10To8Log(src.data(), out10.data(), 256, 256);
        tav::Mono12To8Log(src.data(), out12.data(), 256, 256);
        tav::Mono12To8LogInterlaced(src.data(), outInterlaced.data(), 256, 256);
        for (unsigned v = 0; v < 65536; v++) {
            unsigned y = v / 256, x = v % 256, line = 255 - y;
            // Interlaced: source line y, counted from the bottom, goes to odd
            // output lines for the first half, even ones for the second.
            unsigned fromBottom = 255 - y;
            unsigned fieldLine = fromBottom < 128 ? 2 * fromBottom + 1 : 2 * (fromBottom - 128);
            ASSERT_EQ(out10[line * 256 + x], tav::LogTable10()[v & 0x3FF]) << v;
            ASSERT_EQ(out12[line * 256 + x], tav::LogTable12()[v & 0xFFF]) << v;
            ASSERT_EQ(outInterlaced[fieldLine * 256 + x], tav::LogTable12()[v & 0xFFF]) << v;
        }
    });
}

TEST(MonoRules, LogTablesAreBuiltOnceUnderConcurrentFirstUse) {
    std::vector<const uint8_t*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; i++)
        threads.emplace_back([&seen, i] {
            seen[i] = i % 2 ? tav::LogTable10() : tav::LogTable12();
            uint8_t out[1];
            uint8_t sample[2] = {0xFF, 0x0F};
            tav::Mono12To8Log(sample, out, 1, 1);
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 8; i++) EXPECT_EQ(seen[i], i % 2 ? tav::LogTable10() : tav::LogTable12());
}

// Source line y of a test frame is filled with y + 1.
Bytes Lines8(uint32_t w, uint32_t h) {
    Bytes src((size_t)w * h);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) src[(size_t)y * w + x] = (uint8_t)(y + 1);
    return src;
}

Bytes FirstColumn(const Bytes& out, uint32_t w, uint32_t h) {
    Bytes col;
    for (uint32_t k = 0; k < h; k++) col.push_back(out[(size_t)k * w]);
    return col;
}

TEST(MonoRules, LineOrders) {
    Bytes src = Lines8(4, 6);
    Bytes out(24, 0xEE);
    tav::MonoCopy8(src.data(), out.data(), 4, 6);
    EXPECT_EQ(FirstColumn(out, 4, 6), (Bytes{6, 5, 4, 3, 2, 1}));
    tav::FieldMerge8(src.data(), out.data(), 4, 6);
    // Bottom three source lines to output lines 1, 3, 5; the top three to 0, 2, 4.
    EXPECT_EQ(FirstColumn(out, 4, 6), (Bytes{3, 6, 2, 5, 1, 4}));
    // Odd height: the top source line is unused and the last output line untouched.
    Bytes odd = Lines8(4, 5);
    Bytes out5(20, 0xEE);
    tav::FieldMerge8(odd.data(), out5.data(), 4, 5);
    EXPECT_EQ(FirstColumn(out5, 4, 5), (Bytes{3, 5, 2, 4, 0xEE}));
    // The interlaced log routine uses the same order.
    Bytes src16(2 * 4 * 6);
    for (size_t i = 0; i < 24; i++) {
        unsigned v = 100 * (unsigned)(i / 4 + 1);
        src16[2 * i] = (uint8_t)v;
        src16[2 * i + 1] = (uint8_t)(v >> 8);
    }
    tav::Mono12To8LogInterlaced(src16.data(), out.data(), 4, 6);
    const uint8_t* t = tav::LogTable12();
    EXPECT_EQ(FirstColumn(out, 4, 6), (Bytes{t[300], t[600], t[200], t[500], t[100], t[400]}));
}

TEST(QuaziColourRules, ChannelsFillBottomUpAndLeaveTheOthers) {
    const uint32_t w = 4, h = 3;
    Bytes src = Lines8(w, h);
    Bytes out(3 * w * h, 0x55);
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 1);
    for (uint32_t k = 0; k < h; k++)
        for (uint32_t x = 0; x < w; x++) {
            const uint8_t* px = &out[3 * (k * w + x)];
            EXPECT_EQ(px[0], 0x55);
            EXPECT_EQ(px[1], h - k);
            EXPECT_EQ(px[2], 0x55);
        }
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 0);
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 2);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[2], 3);
    Bytes before = out;
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 3);
    EXPECT_EQ(out, before);
    uint8_t frame[64] = {};
    frame[16 + 21] = 2;
    EXPECT_EQ(tav::QuaziColourChannel(frame, 16), 2);
}

}  // namespace
