// The directory of the running benchmark program, where the build puts the
// library and its monitor host too.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace bench_support {

inline std::string ExeDir() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return ".";
    self[n] = 0;
    return std::filesystem::path(self).parent_path().string();
}

}  // namespace bench_support
