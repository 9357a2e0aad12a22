// tavcam-config-client: an application process for the two-process test. It
// loads libtavcam like any application, lists the cameras once, then answers
// each line "init NAME" on standard input with "result N", N being what
// USBInitDevice returned. End of input ends it.
#include <stdio.h>
#include <string.h>

#include "tavcam.h"

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    CameraList list{};
    USBGetSuppDeviceList(&list);
    char line[300];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!strncmp(line, "init ", 5)) printf("result %d\n", (int)USBInitDevice(line + 5));
    }
    return 0;
}
