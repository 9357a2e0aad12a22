// Enumeration of the cameras' driver interfaces into the path table.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "device/device.h"

namespace tav {

const GUID kCameraInterfaceGuid = {
    0x9567203D, 0xAB53, 0x47A1, {0xBC, 0xF8, 0x6E, 0x81, 0x1C, 0x3F, 0x58, 0xA2}};

namespace {

constexpr int kSlots = 8;

// Fetches the path of interface `data` into slot `index` and tries to open it,
// printing the two lines the enumeration shows on standard output. True when
// the camera opened. A detail that can't be fetched, or a path too long for a
// slot (more than 255 characters), leaves the slot as it was: such an
// interface is skipped rather than failing the whole enumeration.
bool TakeInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, int index) {
    DWORD required = 0;
    plat::SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    auto* detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_A)plat::LocalAlloc(LPTR, required);
    if (!detail) return false;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    bool opened = false;
    if (plat::SetupDiGetDeviceInterfaceDetailA(set, data, detail, required, nullptr, nullptr)) {
        // The path ends inside the detail block; never look past it.
        size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const char* path = detail->DevicePath;
        if (strnlen(path, room) < room && SetCameraPath(index, path)) {
            printf("Attempting to open %s\n", path);
            HANDLE camera = plat::CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr);
            if (camera == INVALID_HANDLE_VALUE || camera == nullptr) {
                printf("FAILED to open %s\n", path);
            } else {
                plat::CloseHandle(camera);
                opened = true;
            }
            fflush(stdout);
        }
    }
    plat::LocalFree(detail);
    return opened;
}

}  // namespace

int EnumerateCameras() {
    HDEVINFO set = plat::SetupDiGetClassDevsA(&kCameraInterfaceGuid, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == nullptr || set == (HDEVINFO)INVALID_HANDLE_VALUE) return 0;
    bool anyOpened = false;
    for (int i = 0; i < kSlots; ++i) {
        SP_DEVICE_INTERFACE_DATA data;
        memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        if (!plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraInterfaceGuid, (DWORD)i,
                                               &data)) {
            if (plat::GetLastError() == ERROR_NO_MORE_ITEMS) {
                plat::SetupDiDestroyDeviceInfoList(set);
                return i;
            }
            // This interface is unreadable: its slot keeps its old path. Only
            // the Windows driver's enumeration fails this way (our POSIX
            // stand-in lists sorted directory entries and ends with
            // ERROR_NO_MORE_ITEMS), so no test on POSIX reaches it.
            continue;
        }
        if (TakeInterface(set, &data, i)) anyOpened = true;
    }
    plat::SetupDiDestroyDeviceInfoList(set);
    // Eight interfaces examined. When none of them opened there is no camera
    // to talk to: we report 0 rather than 8, so that the camera list holds no
    // count of cameras that can't be reached and the monitor probes nothing.
    return anyOpened ? kSlots : 0;
}

}  // namespace tav
