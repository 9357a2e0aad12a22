// tavcam status: the cameras the library sees.
#include <stdio.h>

#include "tavcam.h"
#include "tools/tavcam/commands.h"

int CmdStatus(int, char**) {
    CameraList list{};
    USBGetSuppDeviceList(&list);
    printf("cameras: %u\n", list.nCount);
    return 0;
}
