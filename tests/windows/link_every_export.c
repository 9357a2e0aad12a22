/* Every export of tavcam.dll, called through the import library as an
 * application compiled against tavcam.h calls it: on 32-bit Windows by its
 * __stdcall name (Name@N), which the import library must map to the DLL's
 * undecorated export. The program links only if all of them resolve; run, it
 * says how many it holds. Ordinal order, as in core/entry/tavcam.def. */
#include <stdio.h>

#include "tavcam.h"

typedef void (*AnyFunction)(void);

static const AnyFunction kExports[] = {
    (AnyFunction)USBControlLink,
    (AnyFunction)USBReadDeviceParams,
    (AnyFunction)USBGetSuppDeviceList,
    (AnyFunction)USBInitDevice,
    (AnyFunction)USBRegisterClient,
    (AnyFunction)USBDeRegisterClient,
    (AnyFunction)USBSetFormat,
    (AnyFunction)USBSetCameraFeature,
    (AnyFunction)USBGetCameraFeature,
    (AnyFunction)USBSetOnOffFeature,
    (AnyFunction)USBGetOnOffFeature,
    (AnyFunction)USBSetAutoFeature,
    (AnyFunction)USBGetAutoFeature,
    (AnyFunction)USBSaveParams,
    (AnyFunction)USBLoadParams,
    (AnyFunction)USBDeviceSWReset,
    (AnyFunction)USBSendTable,
    (AnyFunction)USBLiveVideoStart,
    (AnyFunction)USBLiveVideoStop,
    (AnyFunction)USBSetScanArea,
    (AnyFunction)USBCaptureFrame,
    (AnyFunction)SendI2C,
    (AnyFunction)USBLiveVideoStartEx,
    (AnyFunction)USBRegisterPNPFunction,
    (AnyFunction)USBVideoOnCallbackStart,
    (AnyFunction)USBGetCameraID,
    (AnyFunction)USBGetUrgentInfo,
    (AnyFunction)USBGetData,
    (AnyFunction)USBCaptureFrameEx,
    (AnyFunction)USBReset,
    (AnyFunction)DLL_Thread,
    (AnyFunction)GetCameraStatus,
    (AnyFunction)PNPFunctionThreadStop,
    (AnyFunction)ReadDataFromFlash,
    (AnyFunction)ReceiveI2C,
    (AnyFunction)ReceiveStatus,
    (AnyFunction)SendCommand,
    (AnyFunction)SendI2C_OneDataByte,
    (AnyFunction)SetCameraWindow,
    (AnyFunction)SetRegister,
    (AnyFunction)WriteDataToFlash,
    (AnyFunction)USBGetLiveVideoStatistics,
};

_Static_assert(sizeof kExports / sizeof kExports[0] == 42, "every export, ordinals 1 to 42");

int main(void) {
    unsigned linked = 0, i;
    for (i = 0; i < sizeof kExports / sizeof kExports[0]; ++i)
        if (kExports[i]) ++linked;
    printf("%u exports linked\n", linked);
    return linked == sizeof kExports / sizeof kExports[0] ? 0 : 1;
}
