#include "trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace tav {
namespace {

std::mutex g_captureLock;
TraceCapture g_capture = nullptr;
void* g_captureContext = nullptr;
std::atomic<bool> g_capturing{false};

}  // namespace

void SetTraceCapture(TraceCapture capture, void* context) {
    std::lock_guard<std::mutex> guard(g_captureLock);
    g_capture = capture;
    g_captureContext = context;
    g_capturing.store(capture != nullptr);
}

void Trace(const char* format, ...) {
#if !defined(TAVCAM_DEBUG_TRACE)
    if (!g_capturing.load(std::memory_order_relaxed)) return;
#endif
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
#if defined(TAVCAM_DEBUG_TRACE)
    fprintf(stderr, "[tavcam %lu:%lu] %s", (unsigned long)plat::GetCurrentProcessId(),
            (unsigned long)plat::GetCurrentThreadId(), text);
#endif
    if (g_capturing.load()) {
        std::lock_guard<std::mutex> guard(g_captureLock);
        if (g_capture) g_capture(text, g_captureContext);
    }
}

}  // namespace tav
