// Client registration comes with the plug-and-play work; until then each
// export returns its failure result.
#include "tavcam.h"

extern "C" {
TAVCAM_API int32_t WINAPI USBRegisterClient(HWND) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBDeRegisterClient(HWND) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBRegisterPNPFunction(PNPFunction, uintptr_t) {
    return 0;
}
TAVCAM_API int32_t WINAPI PNPFunctionThreadStop(void) {
    return 1;
}
}
