// The DLL's entry: process attach and detach run the library's attach logic;
// thread attach and detach do nothing.
#include "core/attach.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved) {
    (void)lpvReserved;
    switch (fdwReason) {
        case DLL_PROCESS_ATTACH:
            return tav::ProcessAttach(hinstDLL) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            tav::ProcessDetach();
            return TRUE;
        default:
            return TRUE;
    }
}
