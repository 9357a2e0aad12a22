// Device enumeration of the POSIX stand-in: the SetupDi* calls over the device
// directory of the camera socket protocol.
//
// SetupDiGetClassDevsA takes a snapshot of the directory: every entry whose
// name ends in ".sock" and that is a socket, sorted by file name in byte
// order, paths longer than 255 bytes skipped (they would not fit a slot of the
// library's path table). The snapshot is a DevInfo object in the handle table;
// interface i of the set is the i-th path of the snapshot, so a camera that
// comes or goes after the snapshot does not shift the indexes of a running
// enumeration.
#include <dirent.h>
#include <stddef.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "platform/posix/device_dir.h"
#include "platform/posix/handle_table.h"

namespace plat::posix {
namespace {

constexpr size_t kMaxPathBytes = 255;
constexpr DWORD kErrorInvalidUserBuffer = 1784;  // ERROR_INVALID_USER_BUFFER
constexpr DWORD kSpintActive = 0x1;              // SPINT_ACTIVE

struct DeviceSet {
    std::vector<std::string> paths;
};

void ReleaseSet(void* object) {
    delete static_cast<DeviceSet*>(object);
}

bool EndsWithSock(const char* name) {
    size_t n = strlen(name);
    return n > 5 && memcmp(name + n - 5, ".sock", 5) == 0;
}

// The directory's camera sockets, sorted by file name in byte order. A
// directory that does not exist (or cannot be read) holds no camera.
std::vector<std::string> ListCameraSockets(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (struct dirent* e = readdir(d)) {
        if (!EndsWithSock(e->d_name)) continue;
        names.emplace_back(e->d_name);
    }
    closedir(d);
    // std::string compares with char_traits<char>::compare, i.e. memcmp: byte order.
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    std::string prefix = dir;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    for (const std::string& name : names) {
        std::string path = prefix + name;
        if (path.size() > kMaxPathBytes) continue;
        struct stat st;
        // stat, not lstat: a link to a camera socket is a camera too.
        if (stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        paths.push_back(std::move(path));
    }
    return paths;
}

// The set behind a handle, with a reference taken (pair with HandleRelease).
DeviceSet* AcquireSet(HDEVINFO h) {
    return static_cast<DeviceSet*>(HandleAcquire(h, ObjectKind::DevInfo));
}

}  // namespace
}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
    (void)Enumerator;
    (void)hwndParent;
    // Only the one interface class of the camera family exists here; the
    // flags the library passes (present, device interface) are what we do anyway.
    if (!ClassGuid && !(Flags & 0x4u /* DIGCF_ALLCLASSES */)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DeviceSet* set = new (std::nothrow) DeviceSet;
    if (!set) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    set->paths = ListCameraSockets(DeviceDirectory());
    HANDLE h = HandleInsert(ObjectKind::DevInfo, set, ReleaseSet);
    if (!h) {
        delete set;
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    (void)DeviceInfoData;
    DeviceSet* set = AcquireSet(DeviceInfoSet);
    if (!set) return FALSE;  // ERROR_INVALID_HANDLE set by the table
    BOOL ok = FALSE;
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(kErrorInvalidUserBuffer);
    } else if (!InterfaceClassGuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else if (MemberIndex >= set->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
    } else {
        DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
        DeviceInterfaceData->Flags = kSpintActive;
        // Which member of the set this is; the detail call reads it back.
        DeviceInterfaceData->Reserved = (ULONG_PTR)MemberIndex + 1;
        SetLastError(ERROR_SUCCESS);
        ok = TRUE;
    }
    HandleRelease(DeviceInfoSet);
    return ok;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    (void)DeviceInfoData;
    DeviceSet* set = AcquireSet(DeviceInfoSet);
    if (!set) return FALSE;
    BOOL ok = FALSE;
    size_t member = DeviceInterfaceData ? (size_t)DeviceInterfaceData->Reserved : 0;
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        member == 0 || member > set->paths.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else {
        const std::string& path = set->paths[member - 1];
        const DWORD needed =
            (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
        if (RequiredSize) *RequiredSize = needed;
        if (!DeviceInterfaceDetailData) {
            // The size query: no buffer and size 0; a size without a buffer is a bad buffer.
            SetLastError(DeviceInterfaceDetailDataSize == 0 ? ERROR_INSUFFICIENT_BUFFER
                                                            : kErrorInvalidUserBuffer);
        } else if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            SetLastError(kErrorInvalidUserBuffer);
        } else if (DeviceInterfaceDetailDataSize < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        } else {
            memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(), path.size() + 1);
            SetLastError(ERROR_SUCCESS);
            ok = TRUE;
        }
    }
    HandleRelease(DeviceInfoSet);
    return ok;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    ObjectKind kind;
    if (!HandleAcquireAny(DeviceInfoSet, &kind)) return FALSE;
    HandleRelease(DeviceInfoSet);
    if (kind != ObjectKind::DevInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return HandleClose(DeviceInfoSet) ? TRUE : FALSE;
}

}  // extern "C"
