#include "support/testing.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "core/trace.h"
#include "platform/platform.h"

namespace testing_support {
namespace {

std::mutex g_lock;
std::vector<std::string> g_traces;
std::vector<uint32_t> g_pauses;

void OnTrace(const char* text, void*) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_traces.emplace_back(text);
}

void OnSleep(DWORD ms, void*) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_pauses.push_back(ms);
}

}  // namespace

TraceLog::TraceLog() {
    Clear();
    tav::SetTraceCapture(OnTrace, nullptr);
}
TraceLog::~TraceLog() {
    tav::SetTraceCapture(nullptr, nullptr);
}
std::vector<std::string> TraceLog::Lines() const {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_traces;
}
bool TraceLog::Contains(const std::string& text) const {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const auto& line : g_traces)
        if (line.find(text) != std::string::npos) return true;
    return false;
}
void TraceLog::Clear() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_traces.clear();
}

VirtualClock::VirtualClock() {
    Clear();
    plat::SetVirtualClock(OnSleep, nullptr);
}
VirtualClock::~VirtualClock() {
    plat::SetVirtualClock(nullptr, nullptr);
}
std::vector<uint32_t> VirtualClock::Pauses() const {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_pauses;
}
uint64_t VirtualClock::TotalMs() const {
    uint64_t total = 0;
    for (uint32_t p : Pauses()) total += p;
    return total;
}
void VirtualClock::Clear() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_pauses.clear();
}

TempDir::TempDir() {
    char pattern[] = "/tmp/tavcam-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path = made ? made : "";
}
TempDir::~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::string BinDir() {
    const char* dir = getenv("TAVCAM_TEST_BIN_DIR");
    if (dir && *dir) return dir;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return ".";
    self[n] = 0;
    return std::filesystem::path(self).parent_path().string();
}

}  // namespace testing_support
