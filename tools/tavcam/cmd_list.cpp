// tavcam list: the cameras present, with the names the library hands out.
#include <stdio.h>
#include <string.h>

#include "tavcam.h"
#include "tools/tavcam/commands.h"

int CmdList(int, char**) {
    CameraList list;
    memset(&list, 0, sizeof list);
    USBGetSuppDeviceList(&list);
    uint32_t count = list.nCount > TAVCAM_MAX_CAMERAS ? TAVCAM_MAX_CAMERAS : list.nCount;
    // Entries are packed: a camera whose record could not be read is counted
    // but has no entry, so the named entries may be fewer than the count.
    uint32_t named = 0;
    for (uint32_t k = 0; k < count; ++k)
        if (list.szNames[k][0]) ++named;
    printf("cameras: %u\n", list.nCount);
    for (uint32_t k = 0; k < named; ++k) printf("  %.*s\n", TAVCAM_NAME_BYTES, list.szNames[k]);
    if (named < count) printf("  (%u camera record(s) could not be read)\n", count - named);
    return 0;
}
