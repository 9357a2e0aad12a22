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

// Runs f once per path this build and processor have, the path forced
// meanwhile (the property tests report the paths that can't run).
template <typename F>
void OnEveryPath(F f) {
    for (ConvertPath p : tav::kConvertPaths) {
        if (!tav::ConvertPathAvailable(p)) continue;
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
    EXPECT_EQ(out[3 * 7 + 1], (33 + 61) >> 1);  // top-right green (3, 0): output line 1
    EXPECT_EQ(out[1], (18 + 7) >> 1);           // bottom-left green (0, 1): output line 0
    EXPECT_EQ(out[3 * 4 + 1], (7 + 18) >> 1);   // top-left red: its right and lower neighbours
    OnEveryPath([&] { EXPECT_EQ(Bayer(src, 4, 2), out); });
}

TEST(BayerRules, UniformMosaics) {
    // White: a green pixel gives half its diagonal neighbours' mean, rounded
    // down, plus 255 >> 1: 254; but 255 at the two corners with one diagonal.
    const uint32_t w = 40, h = 18;
    OnEveryPath([&] {
        Bytes out = Bayer(Bytes((size_t)w * h, 255), w, h);
        for (uint32_t k = 0; k < h; k++) {
            for (uint32_t x = 0; x < w; x++) {
                const uint32_t y = h - 1 - k;
                const bool singleDiagonal = (x == w - 1 && y == 0) || (x == 0 && y == h - 1);
                const int g = (x + y) % 2 == 1 && !singleDiagonal ? 254 : 255;
                const uint8_t* px = &out[3 * ((size_t)k * w + x)];
                ASSERT_EQ(Bytes(px, px + 3), Bgr({{255, g, 255}})) << x << "," << y;
            }
        }
        for (int v : {0, 2, 100, 254}) {
            Bytes flat = Bayer(Bytes((size_t)w * h, (uint8_t)v), w, h);
            EXPECT_EQ(flat, Bytes(flat.size(), (uint8_t)v)) << v;
        }
    });
    EXPECT_EQ(ReferenceBayer(Bytes((size_t)w * h, 100), w, h), Bytes(3 * (size_t)w * h, 100));
}

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
            const bool white = plain[3 * i + 1] == 255;
            const Bytes entry = white ? Bytes{1, 2, 3} : Bytes{4, 5, 6};
            ASSERT_EQ(Bytes(&out[3 * i], &out[3 * i + 3]), entry) << i;
        }
    });
    UnmapPages(table, bytes + page);
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
    // Group i carries U = i & 255, V = i >> 8: every (U, V) pair, and both
    // lumas run through all values, so every term meets every byte value on
    // the vector paths too.
    const uint32_t w = 512, h = 256;
    Bytes src(2 * (size_t)w * h);
    for (size_t i = 0; i < (size_t)w * h / 2; i++) {
        src[4 * i] = (uint8_t)i;
        src[4 * i + 1] = src[4 * i + 2] = (uint8_t)(i >> 8);
        src[4 * i + 3] = (uint8_t)(i * 7);
    }
    Bytes expected(3 * (size_t)w * h);
    reference::Uyvy(src, w, h, expected);
    OnEveryPath([&] { EXPECT_EQ(Uyvy(src, w, h), expected); });
}

TEST(UyvyRules, WritesNothingWithoutRoomOrLines) {
    // A read-only page: the room test fails and nothing is written (a write
    // would fault); no picture at all is refused too.
    Bytes src(2 * 64 * 16, 90);
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
    const unsigned telling10[][2] = {{0, 0},     {1, 2},      {10, 22},   {100, 109},
                                     {512, 209}, {1000, 253}, {1023, 255}};
    const unsigned telling12[][2] = {{0, 0},      {1, 0},      {2, 1},      {100, 47},
                                     {1000, 163}, {2048, 209}, {4000, 253}, {4095, 255}};
    for (auto& e : telling10) EXPECT_EQ(t10[e[0]], e[1]) << e[0];
    for (auto& e : telling12) EXPECT_EQ(t12[e[0]], e[1]) << e[0];
    for (unsigned i = 0; i < 1024; i++) ASSERT_EQ(t10[i], reference::Log10Entry(i)) << i;
    for (unsigned i = 0; i < 4096; i++) ASSERT_EQ(t12[i], reference::Log12Entry(i)) << i;
}

TEST(MonoRules, LogRoutinesMapEverySampleThroughTheirTable) {
    // All 65536 sample values, high bits included (the routines ignore them),
    // as one 256 x 256 frame: every block and every rise of the permute
    // kernel's recast is crossed. The recast must be exact, or that kernel
    // would silently not be used.
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
            uint8_t out[1], sample[2] = {0xFF, 0x0F};
            tav::Mono12To8Log(sample, out, 1, 1);
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 8; i++) EXPECT_EQ(seen[i], i % 2 ? tav::LogTable10() : tav::LogTable12());
}

// Source line y of a test frame is filled with y + 1.
Bytes Lines8(uint32_t w, uint32_t h) {
    Bytes src((size_t)w * h);
    for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(i / w + 1);
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
}

TEST(QuaziColourRules, ChannelsFillBottomUpAndLeaveTheOthers) {
    const uint32_t w = 4, h = 3;
    Bytes src = Lines8(w, h);
    Bytes out(3 * w * h, 0x55);
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 1);
    for (uint32_t k = 0; k < h; k++)
        for (uint32_t x = 0; x < w; x++)
            EXPECT_EQ(Bytes(&out[3 * (k * w + x)], &out[3 * (k * w + x) + 3]),
                      Bgr({{0x55, (int)(h - k), 0x55}}));
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 0);
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 2);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), Bgr({{3, 3, 3}}));
    Bytes before = out;
    tav::QuaziColourInsert(src.data(), out.data(), w, h, 3);  // no channel 3: nothing written
    EXPECT_EQ(out, before);
    uint8_t frame[64] = {};
    frame[16 + 21] = 2;  // the channel: byte 21 of the second line
    EXPECT_EQ(tav::QuaziColourChannel(frame, 16), 2);
}

}  // namespace
