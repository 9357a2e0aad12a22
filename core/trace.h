// The library's trace sink.
//
// Traces are printf-style texts (most end in "\r\n"). In release builds the
// sink does nothing; in debug builds (TAVCAM_DEBUG_TRACE) it writes each trace
// to standard error with the process id and thread id. Tests install a
// capture, which receives every formatted trace in any build.
#pragma once

#include <stddef.h>

namespace tav {

#if defined(__GNUC__)
#define TAV_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define TAV_PRINTF(f, a)
#endif

void Trace(const char* format, ...) TAV_PRINTF(1, 2);

// Receives each formatted trace; runs on the tracing thread.
typedef void (*TraceCapture)(const char* text, void* context);
void SetTraceCapture(TraceCapture capture, void* context);

}  // namespace tav
