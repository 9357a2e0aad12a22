// The process's path table: the driver path of each device index.
//
// The enumeration (on an application thread, or on the monitor's) writes a
// slot while other threads may be opening cameras, so every slot is read and
// written under one lock: an open never sees half of a new path.
#include <mutex>
#include <string.h>

#include "device/device.h"

namespace tav {
namespace {

constexpr int kSlots = 8;

std::mutex g_pathLock;
char g_paths[kSlots][kPathBytes];  // zero at load: every slot starts empty

}  // namespace

bool CameraPath(int index, char path[kPathBytes]) {
    if (index < 0 || index >= kSlots) return false;
    std::lock_guard<std::mutex> guard(g_pathLock);
    memcpy(path, g_paths[index], kPathBytes);
    return true;
}

bool SetCameraPath(int index, const char* path) {
    if (index < 0 || index >= kSlots || !path) return false;
    size_t length = strnlen(path, kPathBytes);
    if (length >= kPathBytes) return false;
    std::lock_guard<std::mutex> guard(g_pathLock);
    memcpy(g_paths[index], path, length + 1);
    return true;
}

HANDLE OpenCamera(int index) {
    char path[kPathBytes];
    if (!CameraPath(index, path)) return INVALID_HANDLE_VALUE;
    // An empty slot names no device; the system refuses to open it.
    return plat::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace tav
