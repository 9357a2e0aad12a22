// Small pieces every command of the tavcam program uses.
#include "tools/tavcam/cli_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "tavcam.h"

bool ParseNumber(const char* text, uint32_t* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    unsigned long v = strtoul(text, &end, 0);
    if (*end || v > 0xFFFFFFFFul) return false;
    *value = (uint32_t)v;
    return true;
}

int Usage(const char* usage) {
    fprintf(stderr, "usage: tavcam %s\n", usage);
    return 2;
}

int Failed(const char* what, const char* name, int32_t result) {
    fprintf(stderr, "tavcam: %s failed for %s (result %d)\n", what, name, (int)result);
    return 1;
}

bool Initialise(const char* name) {
    CameraList list{};
    USBGetSuppDeviceList(&list);
    int32_t result = USBInitDevice(name);
    if (result == TAVCAM_INIT_OK) return true;
    if (result == TAVCAM_BUSY)
        fprintf(stderr, "tavcam: %s is busy\n", name);
    else
        fprintf(stderr, "tavcam: cannot initialise %s (result %d)\n", name, (int)result);
    return false;
}

namespace {

void QuietCameraList(CameraList* list) {
#if defined(_WIN32)
    USBGetSuppDeviceList(list);
#else
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) dup2(null, STDOUT_FILENO);
    USBGetSuppDeviceList(list);
    fflush(stdout);
    if (saved >= 0) dup2(saved, STDOUT_FILENO);
    if (null >= 0) close(null);
    if (saved >= 0) close(saved);
#endif
}

}  // namespace

void CameraNamesByIndex(std::string (&names)[TAVCAM_MAX_CAMERAS]) {
    for (std::string& n : names) n.clear();
    CameraList list;
    memset(&list, 0, sizeof list);
    QuietCameraList(&list);
    for (uint32_t k = 0; k < list.nCount && k < TAVCAM_MAX_CAMERAS; ++k) {
        std::string name(list.szNames[k], strnlen(list.szNames[k], TAVCAM_NAME_BYTES));
        size_t dash = name.find('-');
        if (dash == std::string::npos || dash + 1 >= name.size()) continue;
        int index = name[dash + 1] - '0';
        if (index >= 0 && index < TAVCAM_MAX_CAMERAS) names[index] = name;
    }
}
