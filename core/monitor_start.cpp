// The monitor runs as "RUNDLL32 tavcam.dll,DLL_Thread". The host is given the
// library's full path (taken from the loaded module), so it loads this very
// file whatever the current directory. On POSIX the host is tavcam-rundll,
// installed next to the library, and the command line keeps the same form:
// the host, then the library's path, a comma and DLL_Thread.
#include "core/monitor_start.h"

#include <string.h>

#include <string>

#include "core/trace.h"

namespace tav {
namespace {

std::string Quoted(const std::string& s) {
    return s.find(' ') == std::string::npos ? s : "\"" + s + "\"";
}

std::string ModulePath(HMODULE module) {
    char path[4096];
    DWORD n = plat::GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    return std::string(path, n);
}

std::string MonitorCommandLine(HMODULE module) {
    std::string library = ModulePath(module);
#if defined(_WIN32)
    if (library.empty()) library = "tavcam.dll";
    return "RUNDLL32 " + Quoted(library) + ",DLL_Thread";
#else
    size_t slash = library.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : library.substr(0, slash);
    return Quoted(dir + "/tavcam-rundll") + " " + Quoted(library) + ",DLL_Thread";
#endif
}

}  // namespace

void StartMonitorProcess(SharedData* d, HMODULE module) {
    std::string command = MonitorCommandLine(module);
    // siMonitor in the block is the 32-bit system's 68-byte record; the call
    // takes the native one (larger on 64-bit systems), built here.
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof pi);
    std::string mutableCommand = command;  // the call may write into its command line
    if (!plat::CreateProcessA(nullptr, &mutableCommand[0], nullptr, nullptr, FALSE,
                              DETACHED_PROCESS, nullptr, nullptr, &si, &pi)) {
        Trace("CreateProcess failed = 0x%x\r\n", (unsigned)plat::GetLastError());
        return;
    }
    SharedStore(d->piMonitor[0], plat::HandleToField(pi.hProcess));
    SharedStore(d->piMonitor[1], plat::HandleToField(pi.hThread));
    SharedStore(d->piMonitor[2], pi.dwProcessId);
    SharedStore(d->piMonitor[3], pi.dwThreadId);
}

void ClosePiMonitorHandles(SharedData* d) {
    uint32_t thread = SharedLoad(d->piMonitor[1]);
    uint32_t process = SharedLoad(d->piMonitor[0]);
    if (thread) plat::CloseHandle(plat::FieldToHandle(thread));
    if (process) plat::CloseHandle(plat::FieldToHandle(process));
    SharedStore(d->piMonitor[1], 0);
    SharedStore(d->piMonitor[0], 0);
}

}  // namespace tav
