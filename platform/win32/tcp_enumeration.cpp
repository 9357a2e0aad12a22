// The SetupDi* calls of the Windows build: the system's own, except while the
// loopback-TCP cameras under test are in use (platform/win32/tcp_cameras.h).
// Then SetupDiGetClassDevsA takes a snapshot of the device directory's camera
// files, and interface i of the set is the i-th path of the snapshot, so a
// camera that comes or goes meanwhile does not shift a running enumeration.
// Our sets are recognised by a table of the sets handed out.
#include <stddef.h>
#include <string.h>

#include <mutex>
#include <new>

#include "platform/win32/tcp_cameras.h"

namespace plat::tcp {
namespace {

constexpr int kMaxSets = 16;  // enumerations running at once in a process
constexpr DWORD kSpintActive = 0x1;

struct DeviceSet {
    std::vector<std::string> paths;
};

std::mutex g_setLock;
DeviceSet* g_sets[kMaxSets];

bool Known(HDEVINFO h) {
    std::lock_guard<std::mutex> guard(g_setLock);
    for (DeviceSet* s : g_sets)
        if (s && (HDEVINFO)s == h) return true;
    return false;
}

HDEVINFO NewSet(const std::string& dir) {
    DeviceSet* set = new (std::nothrow) DeviceSet;
    if (!set) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    set->paths = ListCameraFiles(dir);
    std::lock_guard<std::mutex> guard(g_setLock);
    for (DeviceSet*& s : g_sets) {
        if (s) continue;
        s = set;
        ::SetLastError(ERROR_SUCCESS);
        return (HDEVINFO)set;
    }
    delete set;
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace plat::tcp

namespace plat {

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    std::string dir = tcp::DeviceDirectory();
    if (dir.empty()) return ::SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    return tcp::NewSet(dir);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* classGuid,
                                 DWORD member, PSP_DEVICE_INTERFACE_DATA data) {
    if (!tcp::Known(set)) return ::SetupDiEnumDeviceInterfaces(set, info, classGuid, member, data);
    auto* s = (tcp::DeviceSet*)set;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !classGuid) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (member >= s->paths.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = *classGuid;
    data->Flags = tcp::kSpintActive;
    data->Reserved = (ULONG_PTR)member + 1;  // which member; the detail call reads it back
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA info) {
    if (!tcp::Known(set))
        return ::SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, requiredSize,
                                                  info);
    auto* s = (tcp::DeviceSet*)set;
    size_t member = data ? (size_t)data->Reserved : 0;
    if (!data || member == 0 || member > s->paths.size()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& path = s->paths[member - 1];
    const DWORD needed =
        (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (!detail || detailSize < needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    {
        std::lock_guard<std::mutex> guard(tcp::g_setLock);
        for (tcp::DeviceSet*& s : tcp::g_sets) {
            if (!s || (HDEVINFO)s != set) continue;
            delete s;
            s = nullptr;
            return TRUE;
        }
    }
    return ::SetupDiDestroyDeviceInfoList(set);
}

}  // namespace plat
