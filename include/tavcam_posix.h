/*
 * tavcam_posix.h - on POSIX systems, the part of the Windows interface that an
 * application of tavcam needs: handle and window types, events and waits, and
 * message windows with their loop (for window mode, event mode and
 * plug-and-play). libtavcam.so implements them with the same names, arguments
 * and results as Windows, so an application's camera code reads the same on
 * both systems. Included by tavcam.h; do not include it on Windows.
 *
 * Handles and window handles are small integers that fit in 32 bits, carried
 * in pointer-typed values as on Windows.
 */
#ifndef TAVCAM_POSIX_H
#define TAVCAM_POSIX_H

#if defined(_WIN32)
#error "tavcam_posix.h is for POSIX systems; Windows has <windows.h>"
#endif

#include <stdint.h>

#define WINAPI
#define CALLBACK
#define TAVCAM_POSIX_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HMENU__* HMENU;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_DEVICECHANGE 0x0219
#define WM_USER 0x0400
#define DBT_DEVNODES_CHANGED 0x0007
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEREMOVECOMPLETE 0x8004

#define HWND_MESSAGE ((HWND)(intptr_t)-3)

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

/* Errors and handles */
TAVCAM_POSIX_API DWORD WINAPI GetLastError(void);
TAVCAM_POSIX_API void WINAPI SetLastError(DWORD dwError);
TAVCAM_POSIX_API BOOL WINAPI CloseHandle(HANDLE hObject);

/* Events and waits (events, threads and processes can be waited on) */
TAVCAM_POSIX_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes,
                                            BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
TAVCAM_POSIX_API HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle,
                                          LPCSTR lpName);
TAVCAM_POSIX_API BOOL WINAPI SetEvent(HANDLE hEvent);
TAVCAM_POSIX_API BOOL WINAPI ResetEvent(HANDLE hEvent);
TAVCAM_POSIX_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

/* Windows and messages */
TAVCAM_POSIX_API WORD WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx);
TAVCAM_POSIX_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName,
                                             LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                                             int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                             HINSTANCE hInstance, LPVOID lpParam);
TAVCAM_POSIX_API BOOL WINAPI DestroyWindow(HWND hWnd);
TAVCAM_POSIX_API BOOL WINAPI IsWindow(HWND hWnd);
TAVCAM_POSIX_API LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
TAVCAM_POSIX_API BOOL WINAPI GetMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin,
                                         UINT wMsgFilterMax);
TAVCAM_POSIX_API BOOL WINAPI PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin,
                                          UINT wMsgFilterMax, UINT wRemoveMsg);
TAVCAM_POSIX_API BOOL WINAPI TranslateMessage(const MSG* lpMsg);
TAVCAM_POSIX_API LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);
TAVCAM_POSIX_API void WINAPI PostQuitMessage(int nExitCode);
TAVCAM_POSIX_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
TAVCAM_POSIX_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

/* Diagnostics: copies this process's view of the library's shared block
 * (4784 bytes) to pOut. 1 when the process has the block, else 0. */
TAVCAM_POSIX_API int32_t WINAPI TavcamCopySharedData(void* pOut, uint32_t nSize);

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TAVCAM_POSIX_H */
