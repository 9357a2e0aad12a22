// Speed of the frame conversions, one thread, on frames of 640x480, 1280x1024,
// 2048x2048 and 4096x3072: each routine on the active instruction-set path,
// memcpy of the same picture (and of the 16-bit input) as the floor, and, when
// built with OpenCV, its bilinear Bayer and UYVY conversions of the same input.
// Ends with the ratios between them, the last line a one-line summary.
//
//   convert_bench [--path=portable|sse2|avx2|avx512] [--stream-threshold=BYTES]
//                 [Google Benchmark flags]
// --stream-threshold sets the size of source plus picture from which the
// conversions write past the caches (default 16 MiB), to compare both ways of writing.
//
// Unless told otherwise, every benchmark runs five times for 0.2 s each and
// the ratios take the fastest run of each: on a shared machine a run can be
// slowed by other work, and each run has buffers of its own, placed afresh in
// memory, which moves the large frames' times by up to a third.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"

#if defined(TAVCAM_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
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

typedef void (*Routine)(const uint8_t*, uint8_t*, uint32_t, uint32_t);

void RunRoutine(benchmark::State& state, Routine f, FrameSize s, size_t inBpp, size_t outBpp) {
    std::vector<uint8_t> src = Scene(s, inBpp);
    std::vector<uint8_t> dst((size_t)s.w * s.h * outBpp);
    for (auto _ : state) {
        f(src.data(), dst.data(), s.w, s.h);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)dst.size());
}

void RunMemcpy(benchmark::State& state, size_t bytes) {
    std::vector<uint8_t> src(bytes, 1), dst(bytes);
    for (auto _ : state) {
        memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
}

// The colour table's lookups alone, over a reconstructed picture: what
// BayerToBGR24Table adds to BayerToBGR24.
void RunTableLookups(benchmark::State& state, FrameSize s) {
    std::vector<uint8_t> src = Scene(s, 1);
    std::vector<uint8_t> bgr((size_t)s.w * s.h * 3), dst(bgr.size());
    tav::BayerToBGR24(src.data(), bgr.data(), s.w, s.h);
    const uint8_t* table = ColourTable().data();
    for (auto _ : state) {
        for (size_t i = 0; i < (size_t)s.w * s.h; i++) {
            const uint8_t* e = table + 3 * (((size_t)bgr[3 * i] << 16) |
                                            ((size_t)bgr[3 * i + 1] << 8) | bgr[3 * i + 2]);
            dst[3 * i] = e[0], dst[3 * i + 1] = e[1], dst[3 * i + 2] = e[2];
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

#if defined(TAVCAM_BENCH_OPENCV)
void RunOpenCvBayer(benchmark::State& state, FrameSize s) {
    std::vector<uint8_t> src = Scene(s, 1);
    cv::Mat in((int)s.h, (int)s.w, CV_8UC1, src.data()), out((int)s.h, (int)s.w, CV_8UC3);
    for (auto _ : state) {
        // Bilinear demosaicing; red on the first line's first pixel.
        cv::cvtColor(in, out, cv::COLOR_BayerBG2BGR);
        benchmark::DoNotOptimize(out.data);
        benchmark::ClobberMemory();
    }
}

void RunOpenCvUyvy(benchmark::State& state, FrameSize s) {
    std::vector<uint8_t> src = Scene(s, 2);
    cv::Mat in((int)s.h, (int)s.w, CV_8UC2, src.data()), out((int)s.h, (int)s.w, CV_8UC3);
    for (auto _ : state) {
        cv::cvtColor(in, out, cv::COLOR_YUV2BGR_UYVY);
        benchmark::DoNotOptimize(out.data);
        benchmark::ClobberMemory();
    }
}
#endif

void BayerTable(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::BayerToBGR24Table(s, d, w, h, ColourTable().data());
}

void QuaziGreen(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h) {
    tav::QuaziColourInsert(s, d, w, h, 1);
}

struct RoutineInfo {
    const char* name;
    Routine f;
    size_t inBpp, outBpp;
};
const RoutineInfo kRoutines[] = {
    {"BayerToBGR24", tav::BayerToBGR24, 1, 3},
    {"BayerToBGR24Table", BayerTable, 1, 3},
    {"UYVYToBGR24", tav::UYVYToBGR24, 2, 3},
    {"Mono16To8Shift", tav::Mono16To8Shift, 2, 1},
    {"Mono10To8Log", tav::Mono10To8Log, 2, 1},
    {"Mono12To8Log", tav::Mono12To8Log, 2, 1},
    {"Mono12To8LogInterlaced", tav::Mono12To8LogInterlaced, 2, 1},
    {"MonoCopy8", tav::MonoCopy8, 1, 1},
    {"FieldMerge8", tav::FieldMerge8, 1, 1},
    {"QuaziColourInsert", QuaziGreen, 1, 3},
};

// Collects the processor time per iteration of every run, by name, and prints
// as usual. Processor time, not wall time: the ratios stay meaningful on a
// machine that other work shares.
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            std::string name = r.run_name.str();
            double t = r.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
            if (r.run_type == Run::RT_Iteration) {
                // With repetitions, the fastest: the least disturbed by other work.
                auto it = ns.find(name);
                if (it == ns.end() || t < it->second) ns[name] = t;
            } else if (r.aggregate_name == "median" && !ns.count(name)) {
                ns[name] = t;  // only aggregates reported
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double Get(const Collector& c, const std::string& name) {
    auto it = c.ns.find(name);
    return it == c.ns.end() ? 0 : it->second;
}

void PrintRatios(const Collector& c) {
    std::string summary = "summary (time ratios):";
    char buf[512];
    printf("\nRatios (time / time of the reference; below 1 is faster):\n");
    for (FrameSize s : kSizes) {
        std::string n = SizeName(s);
        auto get = [&](const char* name) { return Get(c, std::string(name) + "/" + n); };
        double px = (double)s.w * s.h;
        double bayer = get("BayerToBGR24"), uyvy = get("UYVYToBGR24");
        double mOut3 = get("memcpy_out24"), mOut1 = get("memcpy_out8"), mIn2 = get("memcpy_in16");
        double cvBayer = get("OpenCV_Bayer"), cvUyvy = get("OpenCV_UYVY");
        double table = get("BayerToBGR24Table") / (bayer + get("TableLookups"));
        double copy8 = get("MonoCopy8") / mOut1, merge8 = get("FieldMerge8") / mOut1;
        double shift16 = get("Mono16To8Shift") / mIn2, mono10Log = get("Mono10To8Log") / mIn2;
        double mono12Log = get("Mono12To8Log") / mIn2,
               mono12LogI = get("Mono12To8LogInterlaced") / mIn2;
        printf("%s:\n", n.c_str());
        printf("  BayerToBGR24 %.3f ns/px, %.2f x memcpy(out)", bayer / px, bayer / mOut3);
        if (cvBayer > 0)
            printf(", %.2f x faster than OpenCV (%.3f ns/px)", cvBayer / bayer, cvBayer / px);
        printf("\n  UYVYToBGR24 %.3f ns/px, %.2f x memcpy(out)", uyvy / px, uyvy / mOut3);
        if (cvUyvy > 0)
            printf(", %.2f x faster than OpenCV (%.3f ns/px)", cvUyvy / uyvy, cvUyvy / px);
        printf("\n  BayerToBGR24Table %.2f x (BayerToBGR24 + lookups)\n", table);
        printf(
            "  MonoCopy8 %.2f, FieldMerge8 %.2f x memcpy(out); Mono16To8Shift %.2f x memcpy(in)\n",
            copy8, merge8, shift16);
        printf("  Mono10To8Log %.2f, Mono12To8Log %.2f, Mono12To8LogInterlaced %.2f x memcpy(in)\n",
               mono10Log, mono12Log, mono12LogI);
        printf("  QuaziColourInsert %.2f x memcpy(out)\n", get("QuaziColourInsert") / mOut3);
        snprintf(buf, sizeof buf,
                 " %s bayer/cv %.2f uyvy/cv %.2f bayer/memcpy %.2f copy8 %.2f merge8 %.2f "
                 "shift16 %.2f log10 %.2f log12 %.2f log12i %.2f table/(bayer+lookups) %.2f;",
                 n.c_str(), cvBayer > 0 ? bayer / cvBayer : 0.0, cvUyvy > 0 ? uyvy / cvUyvy : 0.0,
                 bayer / mOut3, copy8, merge8, shift16, mono10Log, mono12Log, mono12LogI, table);
        summary += buf;
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
    bool repetitions = false, minTime = false;
    for (char* a : args) {
        repetitions |= strncmp(a, "--benchmark_repetitions", 23) == 0;
        minTime |= strncmp(a, "--benchmark_min_time", 20) == 0;
    }
    char defaultRepetitions[] = "--benchmark_repetitions=5";
    char defaultMinTime[] = "--benchmark_min_time=0.2";
    if (!repetitions) args.push_back(defaultRepetitions);
    if (!minTime) args.push_back(defaultMinTime);
    int n = (int)args.size();
#if defined(TAVCAM_BENCH_OPENCV)
    cv::setNumThreads(0);  // one thread, as the library's conversions
#endif
    const char* paths[] = {"portable", "sse2", "avx2", "avx512"};
    printf("conversion path: %s\n", paths[(int)tav::ActiveConvertPath()]);
    ColourTable();  // built before the timing starts
    for (FrameSize s : kSizes) {
        std::string n2 = SizeName(s);
        for (const RoutineInfo& r : kRoutines)
            benchmark::RegisterBenchmark((std::string(r.name) + "/" + n2).c_str(), RunRoutine, r.f,
                                         s, r.inBpp, r.outBpp)
                ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("TableLookups/" + n2).c_str(), RunTableLookups, s)
            ->Unit(benchmark::kMicrosecond);
        size_t px = (size_t)s.w * s.h;
        benchmark::RegisterBenchmark(("memcpy_out24/" + n2).c_str(), RunMemcpy, 3 * px)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("memcpy_out8/" + n2).c_str(), RunMemcpy, px)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("memcpy_in16/" + n2).c_str(), RunMemcpy, 2 * px)
            ->Unit(benchmark::kMicrosecond);
#if defined(TAVCAM_BENCH_OPENCV)
        benchmark::RegisterBenchmark(("OpenCV_Bayer/" + n2).c_str(), RunOpenCvBayer, s)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("OpenCV_UYVY/" + n2).c_str(), RunOpenCvUyvy, s)
            ->Unit(benchmark::kMicrosecond);
#endif
    }
    benchmark::Initialize(&n, args.data());
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    PrintRatios(collector);
    benchmark::Shutdown();
    return 0;
}
