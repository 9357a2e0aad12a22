// The conversions against their rules: the worked examples and telling
// values of each rule, and the fast routines against the oracle on random
// frames (every size step of the window rules near the vector widths, a few
// larger lines, the small mosaics, and sizes the rules exclude), with guard
// bytes around each destination to catch a write outside the picture. The
// tests of ConvertProperties run once per instruction-set path; a path this
// processor or build lacks is reported as skipped, so a machine without it
// says so.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <string.h>

#include <algorithm>
#include <random>
#include <string>
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

const size_t kGuard = 64;
const uint8_t kGuardByte = 0xC5;

struct Size {
    uint32_t w, h;
};

std::string Name(Size s) {
    return std::to_string(s.w) + "x" + std::to_string(s.h);
}

// Sizes the window rules allow: width a multiple of 4 from 32, even height
// from 16. Lines above 8192 pixels are made in the picture itself rather than
// in a line buffer (the colour table is then looked up in place).
std::vector<Size> AllowedSizes() {
    std::vector<Size> sizes;
    for (uint32_t w = 32; w <= 136; w += 4) sizes.push_back({w, w % 8 ? 18u : 16u});
    for (uint32_t w : {252u, 520u, 640u, 1028u, 8196u}) sizes.push_back({w, 16});
    sizes.push_back({32, 40});
    return sizes;
}

// Sizes the rules exclude: odd and tiny, and frames of two lines (each line
// both first and last) wide enough for every vector kernel's main loop.
std::vector<Size> OtherSizes() {
    std::vector<Size> sizes;
    for (uint32_t w = 1; w <= 9; w++)
        for (uint32_t h = 1; h <= 5; h++) sizes.push_back({w, h});
    for (Size s : {Size{4, 2}, Size{6, 2}, Size{34, 3}, Size{35, 16}, Size{33, 17}, Size{18, 2},
                   Size{132, 2}, Size{260, 2}, Size{8196, 2}})
        sizes.push_back(s);
    return sizes;
}

const char* const kPathNames[] = {"Portable", "Sse2", "Avx2", "Avx512"};

// Every test below runs with its path forced, or is skipped, visibly, where
// the path can't run.
class ConvertProperties : public ::testing::TestWithParam<ConvertPath> {
  protected:
    void SetUp() override {
        if (!tav::ConvertPathAvailable(GetParam()))
            GTEST_SKIP() << kPathNames[(int)GetParam()]
                         << ": this processor or build lacks the path";
        ASSERT_TRUE(tav::ForceConvertPath(GetParam()));
    }
    void TearDown() override {
        tav::SetStreamThreshold(0);
        tav::ResetConvertPath();
    }
};

// Random bytes, eight per step (quick even under the thread sanitizer).
Bytes Random(size_t n, std::mt19937& rng) {
    Bytes b(n);
    uint64_t x = ((uint64_t)rng() << 32) | rng();
    for (size_t i = 0; i < n; i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        memcpy(&b[i], &x, std::min<size_t>(8, n - i));
    }
    return b;
}

// A destination with guards on both sides, pre-filled with a pattern so that
// bytes a routine leaves alone compare equal too.
struct Guarded {
    Bytes buf;
    size_t n;
    explicit Guarded(size_t size) : buf(size + 2 * kGuard, kGuardByte), n(size) {
        for (size_t i = 0; i < n; i++) buf[kGuard + i] = (uint8_t)(i * 13);
    }
    uint8_t* data() { return buf.data() + kGuard; }
    Bytes Picture() const { return Bytes(buf.begin() + kGuard, buf.begin() + kGuard + n); }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuard; i++)
            if (buf[i] != kGuardByte || buf[kGuard + n + i] != kGuardByte) return false;
        return true;
    }
};

// One routine under test: its output size per pixel, its source size per
// pixel, the library call and the oracle.
struct Routine {
    const char* name;
    size_t outPerPixel, srcPerPixel;
    void (*fast)(const uint8_t*, uint8_t*, uint32_t, uint32_t);
    void (*oracle)(const Bytes&, uint32_t, uint32_t, Bytes&);
};

const Bytes& RandomTable() {
    // A random block of a prime length repeated over the 48 MiB: neighbouring
    // entries differ, and it is filled by block copies, quickly even under
    // the sanitizers.
    static Bytes table = [] {
        std::mt19937 rng(7);
        Bytes block = Random(4099, rng);
        Bytes t(3u << 24);
        for (size_t i = 0; i < t.size(); i += block.size())
            memcpy(&t[i], block.data(), std::min(block.size(), t.size() - i));
        return t;
    }();
    return table;
}

template <uint8_t channel>
void Quazi(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::QuaziColourInsert(s, d, w, h, channel);
}
template <uint8_t channel>
void QuaziOracle(const Bytes& s, uint32_t w, uint32_t h, Bytes& d) {
    reference::Quazi(s, w, h, channel, d);
}

const Routine kRoutines[] = {
    {"BayerToBGR24", 3, 1, tav::BayerToBGR24, reference::Bayer},
    {"BayerToBGR24Table", 3, 1,
     [](const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
         tav::BayerToBGR24Table(s, d, w, h, RandomTable().data());
     },
     [](const Bytes& s, uint32_t w, uint32_t h, Bytes& d) {
         reference::BayerTable(s, w, h, RandomTable().data(), d);
     }},
    {"UYVYToBGR24", 3, 2, tav::UYVYToBGR24, reference::Uyvy},
    {"Mono16To8Shift", 1, 2, tav::Mono16To8Shift, reference::Mono16Shift},
    {"Mono10To8Log", 1, 2, tav::Mono10To8Log, reference::Mono10Log},
    {"Mono12To8Log", 1, 2, tav::Mono12To8Log, reference::Mono12Log},
    {"Mono12To8LogInterlaced", 1, 2, tav::Mono12To8LogInterlaced, reference::Mono12LogInterlaced},
    {"MonoCopy8", 1, 1, tav::MonoCopy8, reference::MonoCopy},
    {"FieldMerge8", 1, 1, tav::FieldMerge8, reference::FieldMerge},
    {"QuaziColourInsert(1)", 3, 1, Quazi<1>, QuaziOracle<1>},
    {"QuaziColourInsert(7)", 3, 1, Quazi<7>, QuaziOracle<7>},
};

void CompareAll(const std::vector<Size>& sizes, uint32_t seed) {
    std::mt19937 rng(seed);
    for (Size size : sizes) {
        size_t pixels = (size_t)size.w * size.h;
        for (const Routine& r : kRoutines) {
            Bytes src = Random(pixels * r.srcPerPixel, rng);
            Bytes expected = Guarded(pixels * r.outPerPixel).Picture();
            r.oracle(src, size.w, size.h, expected);
            Guarded out(pixels * r.outPerPixel);
            r.fast(src.data(), out.data(), size.w, size.h);
            ASSERT_TRUE(out.GuardsIntact()) << r.name << " " << Name(size);
            ASSERT_EQ(out.Picture(), expected) << r.name << " " << Name(size);
        }
    }
}

TEST_P(ConvertProperties, MatchTheOracleOnAllowedSizes) {
    CompareAll(AllowedSizes(), 1);
}

TEST_P(ConvertProperties, MatchTheOracleOnExcludedAndSmallSizes) {
    CompareAll(OtherSizes(), 2);
}

TEST_P(ConvertProperties, SmallMosaicsWithExtremeSamples) {
    // Samples drawn from {0, 1, 254, 255} make every sum's carry and parity
    // matter in the byte-wise averages of the vector kernels.
    std::mt19937 rng(3);
    const uint8_t values[] = {0, 1, 254, 255};
    for (Size size : {Size{4, 2}, Size{34, 16}, Size{68, 16}, Size{132, 2}}) {
        for (int round = 0; round < 20; round++) {
            Bytes src((size_t)size.w * size.h);
            for (auto& v : src) v = values[rng() % 4];
            Bytes expected(3 * src.size());
            reference::Bayer(src, size.w, size.h, expected);
            Bytes out(3 * src.size());
            tav::BayerToBGR24(src.data(), out.data(), size.w, size.h);
            ASSERT_EQ(out, expected) << Name(size);
        }
    }
}

TEST_P(ConvertProperties, PicturesMatchAtAnyDestinationOffset) {
    // Large pictures are written with cache-bypassing stores on the vector
    // paths; with the threshold lowered, small frames take that code too.
    // Destination offsets 0..6 and line lengths that are no multiple of the
    // store width exercise the copies' ragged ends and their alignment, both
    // past the caches and through them (a 64-pixel line at offset 0 is
    // written straight past them by the YUV kernel); odd heights, the field
    // routines' unused top line and unwritten last line.
    std::mt19937 rng(4);
    for (size_t threshold : {(size_t)1, (size_t)0}) {
        tav::SetStreamThreshold(threshold);
        for (const Routine* r : {&kRoutines[0], &kRoutines[2], &kRoutines[7], &kRoutines[8]}) {
            for (Size size :
                 {Size{100, 18}, Size{36, 16}, Size{2056, 16}, Size{100, 17}, Size{64, 16}}) {
                size_t pixels = (size_t)size.w * size.h;
                const size_t n = pixels * r->outPerPixel;
                Bytes src = Random(pixels * r->srcPerPixel, rng);
                for (size_t offset = 0; offset < 8; offset += 3) {
                    Guarded out(n + offset);
                    Bytes before = out.Picture();
                    // Bytes a routine leaves alone keep what was there.
                    Bytes expected(before.begin() + offset, before.end());
                    r->oracle(src, size.w, size.h, expected);
                    r->fast(src.data(), out.data() + offset, size.w, size.h);
                    Bytes got = out.Picture();
                    ASSERT_TRUE(out.GuardsIntact()) << r->name << " " << Name(size);
                    ASSERT_TRUE(std::equal(before.begin(), before.begin() + offset, got.begin()));
                    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got.begin() + offset))
                        << r->name << " " << Name(size) << " offset " << offset;
                }
            }
        }
    }
}

TEST_P(ConvertProperties, ZeroSizesTouchNothing) {
    Bytes src(64, 1);
    for (const Routine& r : kRoutines) {
        for (Size size : {Size{0, 0}, Size{0, 16}, Size{32, 0}}) {
            Guarded out(0);
            r.fast(src.data(), out.data(), size.w, size.h);
            EXPECT_TRUE(out.GuardsIntact()) << r.name << " " << Name(size);
        }
    }
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

Bytes Uyvy(const Bytes& src, uint32_t w, uint32_t h) {
    Bytes out(3 * (size_t)w * h, 0xAA);
    tav::UYVYToBGR24(src.data(), out.data(), w, h);
    return out;
}

TEST_P(ConvertProperties, WorkedFourByTwoMosaic) {
    Bytes src = {10, 20, 30, 40, 50, 60, 70, 80};
    // Output line 0 comes from source line 1 (bottom-up picture). Every pixel
    // of a 4 x 2 mosaic is on its border: the corner greens with one diagonal
    // neighbour, the reds and blues with two or three neighbours.
    Bytes expected = Bgr({{60, 35, 10},
                          {60, 46, 20},
                          {70, 50, 30},
                          {80, 55, 30},
                          {60, 35, 10},
                          {60, 40, 20},
                          {70, 43, 30},
                          {80, 55, 30}});
    EXPECT_EQ(ReferenceBayer(src, 4, 2), expected);
    EXPECT_EQ(Bayer(src, 4, 2), expected);
}

TEST_P(ConvertProperties, UniformMosaics) {
    // White: a green pixel gives half its diagonal neighbours' mean, rounded
    // down, plus 255 >> 1: 254; but 255 at the two corners with one diagonal.
    const uint32_t w = 40, h = 18;
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
    EXPECT_EQ(ReferenceBayer(Bytes((size_t)w * h, 100), w, h), Bytes(3 * (size_t)w * h, 100));
}

TEST_P(ConvertProperties, TheTablesLastEntryIsReadWithinTheTable) {
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
    Bytes out(plain.size());
    tav::BayerToBGR24Table(src.data(), out.data(), w, h, table);
    for (size_t i = 0; i < (size_t)w * h; i++) {
        const Bytes entry = plain[3 * i + 1] == 255 ? Bytes{1, 2, 3} : Bytes{4, 5, 6};
        ASSERT_EQ(Bytes(&out[3 * i], &out[3 * i + 3]), entry) << i;
    }
    UnmapPages(table, bytes + page);
}

TEST_P(ConvertProperties, UyvyExamplesAndClamps) {
    EXPECT_EQ(Uyvy({100, 50, 200, 150}, 2, 1), Bgr({{0, 0, 153}, {100, 108, 255}}));
    EXPECT_EQ(Uyvy({128, 16, 128, 235}, 2, 1), Bgr({{0, 0, 0}, {255, 255, 255}}));
    EXPECT_EQ(Uyvy({128, 0, 128, 0}, 2, 1), Bgr({{0, 0, 0}, {0, 0, 0}}));
    Bytes blue = Uyvy({255, 235, 128, 235}, 2, 1);
    EXPECT_EQ(blue[0], 255);
    EXPECT_EQ(blue[3], 255);
}

TEST_P(ConvertProperties, EveryByteValueMatchesTheFormulas) {
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
    EXPECT_EQ(Uyvy(src, w, h), expected);
}

TEST_P(ConvertProperties, ShiftKeepsBitsElevenToFour) {
    Bytes src = {0xFF, 0x0F, 0xFF, 0xFF, 0x34, 0x12, 0x0F, 0x00};
    Bytes out(4);
    tav::Mono16To8Shift(src.data(), out.data(), 4, 1);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0x23, 0x00}));
}

TEST_P(ConvertProperties, LogRoutinesMapEverySampleThroughTheirTable) {
    // All 65536 sample values, high bits included (the routines ignore them),
    // as one 256 x 256 frame: every block and every rise of the permute
    // kernel's recast is crossed. The recast must be exact, or that kernel
    // would silently not be used.
    ASSERT_TRUE(tav::convert_detail::LogBlocks10().exact);
    ASSERT_TRUE(tav::convert_detail::LogBlocks12().exact);
    Bytes src(2 * 65536);
    for (unsigned v = 0; v < 65536; v++)
        src[2 * v] = (uint8_t)v, src[2 * v + 1] = (uint8_t)(v >> 8);
    Bytes out10(65536), out12(65536), outInterlaced(65536);
    tav::Mono10To8Log(src.data(), out10.data(), 256, 256);
    tav::Mono12To8Log(src.data(), out12.data(), 256, 256);
    tav::Mono12To8LogInterlaced(src.data(), outInterlaced.data(), 256, 256);
    for (unsigned v = 0; v < 65536; v++) {
        // Interlaced: source line y, counted from the bottom, goes to odd
        // output lines for the first half, even ones for the second.
        unsigned x = v % 256, fromBottom = 255 - v / 256;
        unsigned fieldLine = fromBottom < 128 ? 2 * fromBottom + 1 : 2 * (fromBottom - 128);
        ASSERT_EQ(out10[fromBottom * 256 + x], tav::LogTable10()[v & 0x3FF]) << v;
        ASSERT_EQ(out12[fromBottom * 256 + x], tav::LogTable12()[v & 0xFFF]) << v;
        ASSERT_EQ(outInterlaced[fieldLine * 256 + x], tav::LogTable12()[v & 0xFFF]) << v;
    }
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
INSTANTIATE_TEST_SUITE_P(Path, ConvertProperties, ::testing::ValuesIn(tav::kConvertPaths),
                         [](const ::testing::TestParamInfo<ConvertPath>& info) {
                             return std::string(kPathNames[(int)info.param]);
                         });

}  // namespace
