#include "support/testing.h"

#include <stdlib.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

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
#if defined(_WIN32)
    // The system's temporary folder, a name made from the process id and a count.
    static int serial = 0;
    char base[MAX_PATH];
    DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n >= sizeof base) return;
    for (int tries = 0; tries < 100 && path.empty(); ++tries) {
        std::string candidate = std::string(base) + "tavcam-test-" +
                                std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(++serial);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) path = candidate;
    }
#else
    char pattern[] = "/tmp/tavcam-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path = made ? made : "";
#endif
}
TempDir::~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::string BinDir() {
    char self[4096];
#if defined(_WIN32)
    // The programs sit next to the test program; the build's variable names
    // the directory as the build machine sees it, which Windows (Wine) may not.
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self - 1);
    if (n == 0) return ".";
#else
    const char* dir = getenv("TAVCAM_TEST_BIN_DIR");
    if (dir && *dir) return dir;
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return ".";
#endif
    self[n] = 0;
    return std::filesystem::path(self).parent_path().string();
}

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        std::string item = line.substr(pos, end - pos);
        size_t eq = item.find('=');
        if (eq != std::string::npos) fields[item.substr(0, eq)] = item.substr(eq + 1);
        pos = end + 1;
    }
    return fields;
}

}  // namespace testing_support
