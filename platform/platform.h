// The operations of the system that the library's logic uses, in one namespace.
//
// On Windows they are the real calls of <windows.h> and <setupapi.h>: the DLL
// runs the same logic, line for line, against the camera family's kernel
// driver. On POSIX they are our stand-in (platform/posix/winapi.h), with the
// same names, signatures and error codes. Logic code calls them as plat::Name.
//
// Three operations are our own on every system:
//   plat::Sleep     every protocol pause goes through it, so tests can install
//                   a virtual clock that records the pauses instead of waiting;
//   plat::Now       milliseconds of that same clock (real or virtual);
//   plat::RealSleep a pause while waiting for another process (the monitor
//                   window to appear, an ending shared block to go): always
//                   real time, measured with GetTickCount.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>
#ifndef DBT_DEVNODES_CHANGED
#define DBT_DEVNODES_CHANGED 0x0007
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#endif
#else
#include "posix/winapi.h"
#endif

#include <stdint.h>

#include <string>

namespace plat {

// ---- Camera devices ------------------------------------------------------------
//
// Device files, driver requests and the enumeration of the driver's device
// interfaces. On POSIX: our stand-in over the camera socket protocol. On
// Windows: the system's calls, except that the build under test reaches
// loopback-TCP cameras when TAVCAM_DEVICE_DIR is set (platform/win32/tcp_cameras.h);
// without that variable every call goes straight to the system.
#if defined(_WIN32)
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE h);
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* classGuid,
                                 DWORD member, PSP_DEVICE_INTERFACE_DATA data);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA info);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

// The device-change broadcasts of those cameras: while the monitor's loop
// runs, its window gets WM_DEVICECHANGE when their files come and go. Nothing
// happens without TAVCAM_DEVICE_DIR.
void StartDeviceWatch();
void StopDeviceWatch();
#else
using ::CloseHandle;
using ::CreateFileA;
using ::DeviceIoControl;
using ::SetupDiDestroyDeviceInfoList;
using ::SetupDiEnumDeviceInterfaces;
using ::SetupDiGetClassDevsA;
using ::SetupDiGetDeviceInterfaceDetailA;

// The stand-in's message system delivers the device directory's changes to
// every top-level window by itself (platform/posix/windows/device_broadcast.cpp).
inline void StartDeviceWatch() {}
inline void StopDeviceWatch() {}
#endif

using ::CreateEventA;
using ::CreateFileMappingA;
using ::CreateMutexA;
using ::CreateProcessA;
using ::CreateThread;
using ::CreateWindowExA;
using ::DefWindowProcA;
using ::DestroyWindow;
using ::DispatchMessageA;
using ::GetCurrentProcessId;
using ::GetCurrentThreadId;
using ::GetExitCodeProcess;
using ::GetExitCodeThread;
using ::GetLastError;
using ::GetMessageA;
using ::GetModuleFileNameA;
using ::GetTickCount;
using ::IsBadReadPtr;
using ::IsBadWritePtr;
using ::IsWindow;
using ::KillTimer;
using ::LocalAlloc;
using ::LocalFree;
using ::MapViewOfFile;
using ::MoveWindow;
using ::OpenEventA;
using ::OpenProcess;
using ::PeekMessageA;
using ::PostMessageA;
using ::PostQuitMessage;
using ::RegisterClassExA;
using ::ReleaseMutex;
using ::ResetEvent;
using ::SendMessageA;
using ::SendMessageTimeoutA;
using ::SetEvent;
using ::SetLastError;
using ::SetTimer;
using ::TerminateProcess;
using ::TranslateMessage;
using ::UnmapViewOfFile;
using ::WaitForSingleObject;

// ---- Threads of the library ------------------------------------------------------

// Starts a thread of the library (the live-video reader, the plug-and-play
// notification thread, the device watch): CreateThread's start and parameter,
// default stack, running at once; the thread handle, or null with the last
// error set. On Windows the thread holds a reference to the library's module
// from before it starts and lets go of it as its very last act
// (FreeLibraryAndExitThread). So FreeLibrary can't unmap the code under a
// running thread of the library: the unload, and with it the process detach
// that runs under the loader lock, comes only once every such thread is gone
// (or, at the process's exit, after the system ended them), and the detach
// never has to wait for one. On POSIX the library stays loaded once loaded,
// and this is CreateThread.
HANDLE CreateLibraryThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId);

// ---- The clock of the protocol pauses ------------------------------------------

// Pauses for ms milliseconds: really, or on the virtual clock when one is set.
void Sleep(DWORD ms);

// Milliseconds since an arbitrary start, on the same clock as Sleep.
uint64_t Now();

// A real pause, whatever clock the protocol pauses use.
inline void RealSleep(DWORD ms) {
    ::Sleep(ms);
}

// A virtual clock: Sleep calls onSleep(ms, context) instead of waiting, and
// Now returns the sum of all pauses recorded so far plus start. Passing null
// restores the real clock. Tests set it before the calls they measure.
typedef void (*SleepHook)(DWORD ms, void* context);
void SetVirtualClock(SleepHook onSleep, void* context);
bool VirtualClockActive();

// ---- The process's own command line ----------------------------------------------

// The command line this process was started with, arguments separated by
// spaces (on Windows: GetCommandLineA).
std::string OwnCommandLine();

// ---- Handles kept in 32-bit fields ------------------------------------------------

// Kernel handles and window handles are 32-bit values on every system (Windows
// guarantees it so that 32- and 64-bit processes can share them), so the
// shared block stores them in 32-bit fields; they widen sign-extended.
inline uint32_t HandleToField(HANDLE h) {
    return (uint32_t)(uintptr_t)h;
}
inline HANDLE FieldToHandle(uint32_t v) {
    return (HANDLE)(intptr_t)(int32_t)v;
}
inline uint32_t WindowToField(HWND h) {
    return (uint32_t)(uintptr_t)h;
}
inline HWND FieldToWindow(uint32_t v) {
    return (HWND)(intptr_t)(int32_t)v;
}

}  // namespace plat
