// Speed of the frame conversions, one thread, on frames of 640x480, 1280x1024,
// 2048x2048 and 4096x3072, each measured against a reference: memcpy of the
// same picture (or of the 16-bit input), the picture's bytes written past the
// caches and nothing else (the memory's floor for a large picture, for
// BayerToBGR24 and OpenCV's Bayer alike), and, when found at configure time,
// OpenCV's bilinear Bayer and UYVY conversions and libyuv's UYVYToARGB (alone,
// and followed by ARGBToRGB24, libyuv's way to 24 bits).
//
//   convert_bench [--path=portable|sse2|avx2|avx512] [--stream-threshold=BYTES]
//                 [Google Benchmark flags]
// --stream-threshold sets the size of source plus picture from which the
// conversions write past the caches (default 16 MiB), to compare both ways of writing.
//
// The memory of a shared machine changes speed by up to half within minutes,
// so two cases timed minutes apart can't be compared. Each benchmark here is a
// pair: the library's routine (A) and its reference (B) run alternately, A, B,
// A, B, ..., on the same buffers, each timed on the thread's processor clock,
// and each A is divided by the B right after it. A pair reports the median of
// those ratios, their spread (the 10th and 90th percentiles), the number of
// pairs, and A's median time per pixel. The table at the end gathers the
// medians; its last line is a one-line summary.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"

#if defined(TAVCAM_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#if defined(TAVCAM_BENCH_LIBYUV)
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#endif

namespace {

struct FrameSize {
    uint32_t w, h;
};
const FrameSize kSizes[] = {{640, 480}, {1280, 1024}, {2048, 2048}, {4096, 3072}};

std::string SizeName(FrameSize s) {
    return std::to_string(s.w) + "x" + std::to_string(s.h);
}

// A smooth scene with a little noise: what a camera sends, so that table
// lookups see the locality of a real picture.
std::vector<uint8_t> Scene(FrameSize s, size_t bytesPerPixel) {
    std::vector<uint8_t> b((size_t)s.w * s.h * bytesPerPixel);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < s.h; y++)
        for (uint32_t x = 0; x < s.w; x++)
            for (size_t k = 0; k < bytesPerPixel; k++) {
                noise = noise * 1103515245 + 12345;
                b[((size_t)y * s.w + x) * bytesPerPixel + k] =
                    (uint8_t)((x * 255 / s.w + y * 128 / s.h) / (1 + k) + ((noise >> 16) & 7));
            }
    return b;
}

const std::vector<uint8_t>& ColourTable() {
    static std::vector<uint8_t> table = [] {
        // A mild saturation change, as an application would build one.
        std::vector<uint8_t> t(3u << 24);
        for (uint32_t i = 0; i < (1u << 24); i++) {
            int b = i >> 16, g = (i >> 8) & 255, r = i & 255;
            int grey = (b + g + r) / 3;
            int c[3] = {grey + (b - grey) * 5 / 4, grey + (g - grey) * 5 / 4,
                        grey + (r - grey) * 5 / 4};
            for (int k = 0; k < 3; k++)
                t[3 * (size_t)i + k] = (uint8_t)(c[k] < 0 ? 0 : c[k] > 255 ? 255 : c[k]);
        }
        return t;
    }();
    return table;
}

// The buffers of one pair, shared by both sides: the input (scene), a
// destination large enough for any side's output, and a second buffer
// (memcpy's source, or libyuv's intermediate picture).
struct Buffers {
    FrameSize size;
    std::vector<uint8_t> src, dst, extra;
    size_t px() const { return (size_t)size.w * size.h; }
};

typedef std::function<void(Buffers&)> Side;

struct PairInfo {
    std::string routine;    // "UYVYToBGR24"
    std::string reference;  // "memcpy(out)"
    size_t inBpp;           // bytes per pixel of the scene
    Side a, b;
};

double ThreadSeconds() {
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(p * (double)(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

struct PairResult {
    double median = 0, low = 0, high = 0, nsPerPixel = 0;
    size_t pairs = 0;
};
std::map<std::string, PairResult> g_results;  // by "routine|reference|size"

void RunPair(benchmark::State& state, const PairInfo* info, FrameSize s) {
    Buffers buf;
    buf.size = s;
    buf.src = Scene(s, info->inBpp);
    buf.dst.assign(buf.px() * 4, 0);
    buf.extra.assign(buf.px() * 4, 1);
    // One unmeasured round, so that neither side pays for first touches.
    info->a(buf);
    info->b(buf);
    std::vector<double> ratios, aTimes;
    for (auto _ : state) {
        double t0 = ThreadSeconds();
        info->a(buf);
        benchmark::ClobberMemory();
        double t1 = ThreadSeconds();
        info->b(buf);
        benchmark::ClobberMemory();
        double t2 = ThreadSeconds();
        if (t1 > t0 && t2 > t1) {
            ratios.push_back((t1 - t0) / (t2 - t1));
            aTimes.push_back(t1 - t0);
        }
    }
    PairResult r;
    r.median = Percentile(ratios, 0.5);
    r.low = Percentile(ratios, 0.1);
    r.high = Percentile(ratios, 0.9);
    r.nsPerPixel = Percentile(aTimes, 0.5) * 1e9 / (double)buf.px();
    r.pairs = ratios.size();
    state.counters["ratio"] = r.median;
    state.counters["p10"] = r.low;
    state.counters["p90"] = r.high;
    state.counters["ns/px"] = r.nsPerPixel;
    state.counters["pairs"] = (double)r.pairs;
    g_results[info->routine + "|" + info->reference + "|" + SizeName(s)] = r;
}

// ---- The two sides ----------------------------------------------------------

typedef void (*Routine)(const uint8_t*, uint8_t*, uint32_t, uint32_t);

Side Library(Routine f) {
    return [f](Buffers& b) { f(b.src.data(), b.dst.data(), b.size.w, b.size.h); };
}

Side Memcpy(size_t bytesPerPixel) {
    return [bytesPerPixel](Buffers& b) {
        memcpy(b.dst.data(), b.extra.data(), b.px() * bytesPerPixel);
    };
}

// The output's bytes written past the caches and nothing else: the least time
// any conversion producing that picture can take once the picture is too
// large for the caches (on x86-64; memset elsewhere).
Side StreamWrite(size_t bytesPerPixel) {
    return [bytesPerPixel](Buffers& b) {
        size_t n = b.px() * bytesPerPixel;
#if defined(__SSE2__)
        const __m128i v = _mm_set1_epi8(7);
        uint8_t* d = b.dst.data();
        size_t i = 0;
        for (; i < n && ((uintptr_t)(d + i) & 15) != 0; i++) d[i] = 7;
        for (; i + 64 <= n; i += 64) {
            _mm_stream_si128((__m128i*)(d + i), v);
            _mm_stream_si128((__m128i*)(d + i + 16), v);
            _mm_stream_si128((__m128i*)(d + i + 32), v);
            _mm_stream_si128((__m128i*)(d + i + 48), v);
        }
        _mm_sfence();
        memset(d + i, 7, n - i);
#else
        memset(b.dst.data(), 7, n);
#endif
    };
}

void BayerTable(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::BayerToBGR24Table(s, d, w, h, ColourTable().data());
}

void QuaziGreen(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::QuaziColourInsert(s, d, w, h, 1);
}

// BayerToBGR24 followed by a plain loop of the colour table's lookups: what
// BayerToBGR24Table would cost done in two steps.
void BayerThenLookups(Buffers& b) {
    tav::BayerToBGR24(b.src.data(), b.extra.data(), b.size.w, b.size.h);
    const uint8_t* table = ColourTable().data();
    const uint8_t* in = b.extra.data();
    uint8_t* out = b.dst.data();
    for (size_t i = 0; i < b.px(); i++) {
        const uint8_t* e =
            table + 3 * (((size_t)in[3 * i] << 16) | ((size_t)in[3 * i + 1] << 8) | in[3 * i + 2]);
        out[3 * i] = e[0], out[3 * i + 1] = e[1], out[3 * i + 2] = e[2];
    }
}

#if defined(TAVCAM_BENCH_OPENCV)
void OpenCvBayer(Buffers& b) {
    cv::Mat in((int)b.size.h, (int)b.size.w, CV_8UC1, b.src.data());
    cv::Mat out((int)b.size.h, (int)b.size.w, CV_8UC3, b.dst.data());
    cv::cvtColor(in, out, cv::COLOR_BayerBG2BGR);  // bilinear; red first, as ours
}

void OpenCvUyvy(Buffers& b) {
    cv::Mat in((int)b.size.h, (int)b.size.w, CV_8UC2, b.src.data());
    cv::Mat out((int)b.size.h, (int)b.size.w, CV_8UC3, b.dst.data());
    cv::cvtColor(in, out, cv::COLOR_YUV2BGR_UYVY);
}
#endif

#if defined(TAVCAM_BENCH_LIBYUV)
// A negative height writes the picture bottom-up, as ours are.
void YuvUyvyToArgb(Buffers& b) {
    int w = (int)b.size.w, h = (int)b.size.h;
    libyuv::UYVYToARGB(b.src.data(), 2 * w, b.dst.data(), 4 * w, w, -h);
}

void YuvUyvyToRgb24(Buffers& b) {
    int w = (int)b.size.w, h = (int)b.size.h;
    libyuv::UYVYToARGB(b.src.data(), 2 * w, b.extra.data(), 4 * w, w, -h);
    libyuv::ARGBToRGB24(b.extra.data(), 4 * w, b.dst.data(), 3 * w, w, h);
}
#endif

std::vector<PairInfo> Pairs() {
    std::vector<PairInfo> p = {
        {"BayerToBGR24", "memcpy(out)", 1, Library(tav::BayerToBGR24), Memcpy(3)},
        {"BayerToBGR24", "written(out)", 1, Library(tav::BayerToBGR24), StreamWrite(3)},
        {"UYVYToBGR24", "memcpy(out)", 2, Library(tav::UYVYToBGR24), Memcpy(3)},
        {"BayerToBGR24Table", "Bayer+lookups", 1, Library(BayerTable), BayerThenLookups},
        {"MonoCopy8", "memcpy(out)", 1, Library(tav::MonoCopy8), Memcpy(1)},
        {"FieldMerge8", "memcpy(out)", 1, Library(tav::FieldMerge8), Memcpy(1)},
        {"Mono16To8Shift", "memcpy(in)", 2, Library(tav::Mono16To8Shift), Memcpy(2)},
        {"Mono10To8Log", "memcpy(in)", 2, Library(tav::Mono10To8Log), Memcpy(2)},
        {"Mono12To8Log", "memcpy(in)", 2, Library(tav::Mono12To8Log), Memcpy(2)},
        {"Mono12To8LogInterlaced", "memcpy(in)", 2, Library(tav::Mono12To8LogInterlaced),
         Memcpy(2)},
        {"QuaziColourInsert", "memcpy(out)", 1, Library(QuaziGreen), Memcpy(3)},
    };
#if defined(TAVCAM_BENCH_OPENCV)
    p.push_back({"BayerToBGR24", "OpenCV", 1, Library(tav::BayerToBGR24), OpenCvBayer});
    p.push_back({"OpenCV Bayer", "written(out)", 1, OpenCvBayer, StreamWrite(3)});
    p.push_back({"UYVYToBGR24", "OpenCV", 2, Library(tav::UYVYToBGR24), OpenCvUyvy});
#endif
#if defined(TAVCAM_BENCH_LIBYUV)
    p.push_back({"UYVYToBGR24", "libyuv ARGB", 2, Library(tav::UYVYToBGR24), YuvUyvyToArgb});
    p.push_back({"UYVYToBGR24", "libyuv RGB24", 2, Library(tav::UYVYToBGR24), YuvUyvyToRgb24});
#endif
    return p;
}

// ---- The table ----------------------------------------------------------------

const PairResult* Find(const std::string& routine, const std::string& reference, FrameSize s) {
    auto it = g_results.find(routine + "|" + reference + "|" + SizeName(s));
    return it == g_results.end() ? nullptr : &it->second;
}

void PrintTable(const std::vector<PairInfo>& pairs) {
    printf(
        "\nMedian time ratios of the library's routine to its reference, timed in\n"
        "alternating pairs (below 1: the routine is faster); [10th, 90th percentile]:\n");
    std::string summary = "summary (median time ratios):";
    for (FrameSize s : kSizes) {
        printf("%s:\n", SizeName(s).c_str());
        summary += " " + SizeName(s);
        for (const PairInfo& p : pairs) {
            const PairResult* r = Find(p.routine, p.reference, s);
            if (!r || r->pairs == 0) continue;
            printf("  %-23s / %-14s %5.2f  [%.2f, %.2f]  %3zu pairs  %.3f ns/px\n",
                   p.routine.c_str(), p.reference.c_str(), r->median, r->low, r->high, r->pairs,
                   r->nsPerPixel);
            char buf[160];
            snprintf(buf, sizeof buf, " %s/%s %.2f", p.routine.c_str(), p.reference.c_str(),
                     r->median);
            summary += buf;
        }
        summary += ";";
    }
    printf("%s\n", summary.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; i++) {
        const char* a = argv[i];
        if (strncmp(a, "--path=", 7) == 0) {
            std::string p = a + 7;
            tav::ConvertPath path = p == "portable" ? tav::ConvertPath::Portable
                                    : p == "sse2"   ? tav::ConvertPath::Sse2
                                    : p == "avx2"   ? tav::ConvertPath::Avx2
                                                    : tav::ConvertPath::Avx512;
            if (!tav::ForceConvertPath(path)) {
                fprintf(stderr, "path %s not available here\n", p.c_str());
                return 1;
            }
            continue;
        }
        if (strncmp(a, "--stream-threshold=", 19) == 0) {
            tav::SetStreamThreshold((size_t)strtoull(a + 19, nullptr, 10));
            continue;
        }
        args.push_back(argv[i]);
    }
    bool minTime = false;
    for (char* a : args) minTime |= strncmp(a, "--benchmark_min_time", 20) == 0;
    char defaultMinTime[] = "--benchmark_min_time=1";
    if (!minTime) args.push_back(defaultMinTime);
    int n = (int)args.size();
#if defined(TAVCAM_BENCH_OPENCV)
    cv::setNumThreads(0);  // one thread, as the library's conversions
#endif
    const char* paths[] = {"portable", "sse2", "avx2", "avx512"};
    printf("conversion path: %s\n", paths[(int)tav::ActiveConvertPath()]);
    ColourTable();  // built before the timing starts
    static const std::vector<PairInfo> pairs = Pairs();
    for (FrameSize s : kSizes)
        for (const PairInfo& p : pairs)
            benchmark::RegisterBenchmark(
                (p.routine + "_vs_" + p.reference + "/" + SizeName(s)).c_str(), RunPair, &p, s)
                ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    PrintTable(pairs);
    benchmark::Shutdown();
    return 0;
}
