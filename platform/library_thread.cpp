// Threads of the library that keep the library loaded while they run (see
// plat::CreateLibraryThread).
#include <new>

#include "platform/platform.h"

namespace plat {

#if defined(_WIN32)
namespace {

struct ThreadStart {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    HMODULE module;  // the reference the thread holds; null if none was had
};

DWORD WINAPI RunHoldingTheModule(LPVOID p) {
    ThreadStart s = *(ThreadStart*)p;
    delete (ThreadStart*)p;
    DWORD code = s.start(s.parameter);
    // The last act: the module may be unmapped the moment the reference goes,
    // and this returns into the system, not into the library.
    if (s.module) ::FreeLibraryAndExitThread(s.module, code);
    return code;
}

}  // namespace

HANDLE CreateLibraryThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) {
    auto* s = new (std::nothrow) ThreadStart{start, parameter, nullptr};
    if (!s) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The module this code is in: the DLL (or the program a test links it into).
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              (LPCSTR)(void*)&RunHoldingTheModule, &s->module))
        s->module = nullptr;
    HANDLE thread = ::CreateThread(nullptr, 0, RunHoldingTheModule, s, 0, threadId);
    if (!thread) {
        DWORD error = ::GetLastError();
        if (s->module) ::FreeLibrary(s->module);
        delete s;
        ::SetLastError(error);
    }
    return thread;
}
#else
HANDLE CreateLibraryThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) {
    return plat::CreateThread(nullptr, 0, start, parameter, 0, threadId);
}
#endif

}  // namespace plat
