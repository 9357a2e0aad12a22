// Where the cameras under test are: the device directory and its .tcp files.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "platform/win32/tcp_cameras.h"

namespace plat::tcp {
namespace {

constexpr size_t kMaxPathBytes = 255;

bool EndsWithTcp(const char* name) {
    size_t n = strlen(name);
    return n > 4 && memcmp(name + n - 4, ".tcp", 4) == 0;
}

}  // namespace

std::string DeviceDirectory() {
    char dir[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableA("TAVCAM_DEVICE_DIR", dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return std::string();
    return std::string(dir, n);
}

bool IsCameraFile(const char* path) {
    return path && EndsWithTcp(path) && !DeviceDirectory().empty();
}

unsigned short CameraPort(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    char line[64] = {};
    size_t n = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    line[n] = 0;
    unsigned port = 0;
    int used = 0;
    if (sscanf(line, "127.0.0.1:%5u%n", &port, &used) != 1) return 0;
    // Nothing but the line's end may follow the port.
    for (const char* p = line + used; *p; ++p)
        if (*p != '\r' && *p != '\n') return 0;
    return port > 0 && port <= 65535 ? (unsigned short)port : 0;
}

std::vector<std::string> ListCameraFiles(const std::string& dir) {
    std::vector<std::string> names;
    std::string prefix = dir;
    if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((prefix + "*.tcp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            // The pattern also matches longer extensions and other cases: look again.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                EndsWithTcp(found.cFileName))
                names.emplace_back(found.cFileName);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    // std::string compares as memcmp does: byte order.
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& name : names)
        if (prefix.size() + name.size() <= kMaxPathBytes) paths.push_back(prefix + name);
    return paths;
}

}  // namespace plat::tcp
