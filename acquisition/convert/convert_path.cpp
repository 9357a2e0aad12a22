// Choice of the instruction-set path: examined once, forceable for tests.
#include "acquisition/convert/convert_path.h"

#include <string.h>

#include <atomic>

#include "acquisition/convert/kernels.h"

namespace tav {
namespace {

// TAVCAM_CONVERT_AVX2 is defined by the build where the *_avx2.cpp files are
// compiled with AVX2 code and the *_avx512.cpp files with AVX-512 BW and VBMI
// code (x86-64 outside Windows: the mingw compilers do not keep the stack
// aligned to the 32 bytes that spilled AVX registers need). The compiler's
// checks include the system's support for the wide registers.
bool ProcessorHasAvx2() {
#if defined(TAVCAM_CONVERT_AVX2) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool ProcessorHasAvx512() {
#if defined(TAVCAM_CONVERT_AVX2) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && ProcessorHasAvx2();
#else
    return false;
#endif
}

ConvertPath BestPath() {
    if (ProcessorHasAvx512()) return ConvertPath::Avx512;
    if (ProcessorHasAvx2()) return ConvertPath::Avx2;
#if defined(__SSE2__)
    return ConvertPath::Sse2;
#else
    return ConvertPath::Portable;
#endif
}

// -1: not examined yet; otherwise a ConvertPath value. Relaxed is enough: every
// value it can hold is a complete choice, and a race only makes two threads
// examine the processor twice.
std::atomic<int> g_path{-1};

std::atomic<size_t> g_streamBytes{convert_detail::kStreamBytes};

}  // namespace

void SetStreamThreshold(size_t bytes) {
    g_streamBytes.store(bytes ? bytes : convert_detail::kStreamBytes, std::memory_order_relaxed);
}

size_t StreamThreshold() {
    return g_streamBytes.load(std::memory_order_relaxed);
}

bool ConvertPathAvailable(ConvertPath path) {
    switch (path) {
        case ConvertPath::Portable:
            return true;
        case ConvertPath::Sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case ConvertPath::Avx2:
            return ProcessorHasAvx2();
        case ConvertPath::Avx512:
            return ProcessorHasAvx512();
    }
    return false;
}

ConvertPath ActiveConvertPath() {
    int p = g_path.load(std::memory_order_relaxed);
    if (p < 0) {
        p = (int)BestPath();
        g_path.store(p, std::memory_order_relaxed);
    }
    return (ConvertPath)p;
}

bool ForceConvertPath(ConvertPath path) {
    if (!ConvertPathAvailable(path)) return false;
    g_path.store((int)path, std::memory_order_relaxed);
    return true;
}

void ResetConvertPath() {
    g_path.store((int)BestPath(), std::memory_order_relaxed);
}

namespace convert_detail {

namespace {

// The kernels of each path, by ConvertPath value. A path without a kernel of
// its own for a routine takes the next narrower path's.
const PathKernels kPathKernels[] = {
    {BayerRowPortable, TableRowPortable, UyvyRowPortable, nullptr, ShiftRowPortable, nullptr,
     CopyLinesPortable, LogRowTable},
    {BayerRowSse2, TableRowPortable, UyvyRowSse2, nullptr, ShiftRowSse2, StreamCopySse2,
     CopyLinesPortable, LogRowTable},
    {BayerRowAvx2, TableRowPortable, UyvyRowAvx2, UyvyStreamAvx2, ShiftRowAvx2, StreamCopyAvx2,
     CopyLinesAvx2, LogRowTable},
    {BayerRowAvx512, TableRowAvx512, UyvyRowAvx512, nullptr, ShiftRowAvx2, StreamCopyAvx2,
     CopyLinesAvx512, LogRowAvx512},
};
static_assert(sizeof kPathKernels / sizeof kPathKernels[0] == (int)ConvertPath::Avx512 + 1,
              "a row per path");

}  // namespace

const PathKernels& ActiveKernels() {
    return kPathKernels[(int)ActiveConvertPath()];
}

LogRowFn ActiveLogRow(const LogBlocks& blocks) {
    return blocks.exact ? ActiveKernels().log : LogRowTable;
}

void StreamCopyPortable(uint8_t* dst, const uint8_t* src, size_t n) {
    memcpy(dst, src, n);
}

}  // namespace convert_detail
}  // namespace tav
