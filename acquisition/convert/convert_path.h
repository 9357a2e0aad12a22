// Which instruction-set path the conversions take.
//
// The processor is examined once: AVX-512 with byte permutes (BW and VBMI)
// where the processor and the build have them, otherwise AVX2 likewise,
// otherwise SSE2 where the build has it (every x86-64 processor), otherwise
// the portable path. The AVX-512 path has its own kernel for the logarithmic
// tables and takes the AVX2 kernels for the rest. Tests and benchmarks force a path to compare all
// of them on one machine; the library itself never forces one.
#pragma once

#include <stddef.h>

namespace tav {

enum class ConvertPath { Portable = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };
const ConvertPath kConvertPaths[] = {ConvertPath::Portable, ConvertPath::Sse2, ConvertPath::Avx2,
                                     ConvertPath::Avx512};

// True when this build and this processor can run the path.
bool ConvertPathAvailable(ConvertPath path);

// The path the conversions take now.
ConvertPath ActiveConvertPath();

// Makes the conversions take `path` from now on; false (and no change) when the
// path is not available. Meant for tests and benchmarks.
bool ForceConvertPath(ConvertPath path);

// Back to the best available path.
void ResetConvertPath();

// Conversions whose source and picture together take at least this many
// bytes (16 MiB unless changed) write the picture with cache-bypassing stores
// on the vector paths. Tests lower it to reach
// that code with small frames; 0 restores the default.
void SetStreamThreshold(size_t bytes);
size_t StreamThreshold();

}  // namespace tav
