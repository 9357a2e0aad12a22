#include "device_dir.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::posix {

std::string RuntimeDirectory() {
    const char* own = getenv("TAVCAM_RUNTIME_DIR");
    if (own && *own) {
        mkdir(own, 0700);
        return own;
    }
    std::string dir = "/tmp/tavcam-" + std::to_string((unsigned long)getuid());
    mkdir(dir.c_str(), 0700);  // an existing directory is fine
    return dir;
}

std::string ObjectNamespace() {
    std::string tag = std::to_string((unsigned long)getuid());
    const char* own = getenv("TAVCAM_RUNTIME_DIR");
    if (own && *own) {
        uint32_t hash = 2166136261u;  // FNV-1a
        for (const char* p = own; *p; ++p) hash = (hash ^ (uint8_t)*p) * 16777619u;
        char hex[16];
        snprintf(hex, sizeof hex, "-%08x", hash);
        tag += hex;
    }
    return tag;
}

std::string DeviceDirectory() {
    const char* dir = getenv("TAVCAM_DEVICE_DIR");
    if (dir && *dir) return dir;
    return "/tmp/tavcam-" + std::to_string((unsigned long)getuid()) + "/devices";
}

}  // namespace plat::posix
