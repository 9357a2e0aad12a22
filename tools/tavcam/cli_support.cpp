// Small pieces every command of the tavcam program uses.
#include "tools/tavcam/cli_support.h"

#include <stdio.h>
#include <stdlib.h>

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
