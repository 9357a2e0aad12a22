// The DLL's entry: process attach and detach run the library's attach logic;
// thread attach and detach do nothing. The detach runs under the loader lock:
// at process exit the other threads are already gone, and at FreeLibrary the
// library's own threads hold a reference to the module, so none of them can
// still be running its code (plat::CreateLibraryThread). Why the detach then
// never waits on anything that needs the loader: core/attach.cpp.
#include "core/attach.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved) {
    (void)lpvReserved;
    switch (fdwReason) {
        case DLL_PROCESS_ATTACH:
            return tav::ProcessAttach(hinstDLL) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            tav::ProcessDetach(true);
            return TRUE;
        default:
            return TRUE;
    }
}
