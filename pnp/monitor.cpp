// Placeholder until the device monitor lands.
#include "tavcam.h"

extern "C" TAVCAM_API int32_t WINAPI DLL_Thread(HWND, HINSTANCE, char*, int32_t) { return 0; }
