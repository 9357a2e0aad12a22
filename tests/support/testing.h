// Helpers shared by the test suites.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// Collects the library's traces while alive.
struct TraceLog {
    TraceLog();
    ~TraceLog();
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;
    void Clear();
};

// A virtual clock for the protocol pauses while alive: plat::Sleep records
// each pause instead of waiting, and plat::Now advances by it.
struct VirtualClock {
    VirtualClock();
    ~VirtualClock();
    std::vector<uint32_t> Pauses() const;
    uint64_t TotalMs() const;
    void Clear();
};

// A fresh private directory under /tmp, removed with its contents at the end.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
};

// Directory of the built programs (tavcam-camsim, tavcam-rundll, helpers).
std::string BinDir();

// The "key=value" fields of a line that test clients answer with.
std::map<std::string, std::string> Fields(const std::string& line);

}  // namespace testing_support
