// The per-thread last-error value and CloseHandle, as on Windows.
#include "handle_table.h"

namespace {
thread_local DWORD t_lastError = 0;
}

extern "C" {

DWORD WINAPI GetLastError(void) {
    return t_lastError;
}

void WINAPI SetLastError(DWORD dwError) {
    t_lastError = dwError;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    return plat::posix::HandleClose(hObject) ? TRUE : FALSE;
}

}  // extern "C"
