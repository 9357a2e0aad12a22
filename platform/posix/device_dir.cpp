#include "device_dir.h"

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

std::string DeviceDirectory() {
    const char* dir = getenv("TAVCAM_DEVICE_DIR");
    if (dir && *dir) return dir;
    return "/tmp/tavcam-" + std::to_string((unsigned long)getuid()) + "/devices";
}

}  // namespace plat::posix
