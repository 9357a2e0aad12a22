// The fast routines against the oracle on random frames: every size step of
// the window rules near the vector widths, a few larger lines, the small
// mosaics, and sizes the rules exclude; with guard bytes around each
// destination to catch a write outside the picture. Each test runs once per
// instruction-set path; a path this processor or build lacks is reported as
// skipped, so a machine without it says so.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"
#include "convert/reference.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tav::ConvertPath;

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
                 {Size{100, 18}, Size{36, 16}, Size{1028, 16}, Size{100, 17}, Size{64, 16}}) {
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

INSTANTIATE_TEST_SUITE_P(Path, ConvertProperties, ::testing::ValuesIn(tav::kConvertPaths),
                         [](const ::testing::TestParamInfo<ConvertPath>& info) {
                             return std::string(kPathNames[(int)info.param]);
                         });

}  // namespace
