// Window classes and this process's windows: RegisterClassExA,
// CreateWindowExA, DestroyWindow, IsWindow, DefWindowProcA, MoveWindow,
// DispatchMessageA, TranslateMessage.
//
// A window here is its handle (from the shared registry), its procedure, its
// parent and its size. There is nothing to draw: the system classes the
// library uses ("edit", "static", "button") are plain windows whose
// procedure is the default one.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "../internal.h"
#include "windows_internal.h"

namespace plat::posix::win {
namespace {

constexpr int kClasses = 64;
constexpr int kWindows = 256;  // windows of one process at once
constexpr size_t kClassName = 64;

struct WindowClass {
    char name[kClassName];
    WNDPROC proc;
    bool used;
};

struct Window {
    uint32_t hwnd;
    uint32_t tid;
    uint32_t parent;
    WNDPROC proc;
    bool topLevel;
    bool destroying;
    int x, y, width, height;
};

WindowClass g_classes[kClasses];
Window g_windows[kWindows];

const char* const kSystemClasses[] = {"edit", "static", "button"};

Window* FindLocked(uint32_t hwnd) {
    if (!hwnd) return nullptr;
    for (Window& w : g_windows)
        if (w.hwnd == hwnd) return &w;
    return nullptr;
}

uint32_t H(HWND hwnd) {
    return (uint32_t)(uintptr_t)hwnd;
}
HWND W(uint32_t hwnd) {
    return (HWND)(uintptr_t)hwnd;
}

bool FindClass(LPCSTR name, WNDPROC* proc) {
    if ((uintptr_t)name < 0x10000) {  // an atom from RegisterClassExA
        uintptr_t i = (uintptr_t)name - 0xC000;
        if (i >= (uintptr_t)kClasses) return false;
        pthread_mutex_lock(&g_msgLock);
        bool ok = g_classes[i].used;
        if (ok) *proc = g_classes[i].proc;
        pthread_mutex_unlock(&g_msgLock);
        return ok;
    }
    for (const char* system : kSystemClasses) {
        if (strcasecmp(name, system) == 0) {
            *proc = DefWindowProcA;
            return true;
        }
    }
    bool ok = false;
    pthread_mutex_lock(&g_msgLock);
    for (const WindowClass& c : g_classes) {
        if (c.used && strcasecmp(c.name, name) == 0) {
            *proc = c.proc;
            ok = true;
            break;
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    return ok;
}

LPARAM SizeParam(int width, int height) {
    return (LPARAM)(((uint32_t)(uint16_t)height << 16) | (uint16_t)width);
}

}  // namespace

bool LocalWindow(uint32_t hwnd, WNDPROC* proc, uint32_t* tid) {
    pthread_mutex_lock(&g_msgLock);
    Window* w = FindLocked(hwnd);
    if (w) {
        if (proc) *proc = w->proc;
        if (tid) *tid = w->tid;
    }
    pthread_mutex_unlock(&g_msgLock);
    return w != nullptr;
}

bool WindowMatches(uint32_t hwnd, uint32_t filter) {
    if (filter == 0) return true;
    if (filter == 0xFFFFFFFFu) return hwnd == 0;  // (HWND)-1: thread messages only
    // Called with g_msgLock held by the queue.
    for (int depth = 0; hwnd && depth < kWindows; ++depth) {
        if (hwnd == filter) return true;
        Window* w = FindLocked(hwnd);
        hwnd = w ? w->parent : 0;
    }
    return false;
}

int LocalTopLevel(uint32_t* hwnds, uint32_t* tids, int max) {
    int n = 0;
    pthread_mutex_lock(&g_msgLock);
    for (const Window& w : g_windows) {
        if (w.hwnd && w.topLevel && !w.destroying && n < max) {
            hwnds[n] = w.hwnd;
            tids[n] = w.tid;
            ++n;
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    return n;
}

void DropThreadWindows(uint32_t tid) {
    uint32_t gone[kWindows];
    int n = 0;
    pthread_mutex_lock(&g_msgLock);
    for (Window& w : g_windows) {
        if (w.hwnd && w.tid == tid) {
            gone[n++] = w.hwnd;
            w = Window{};
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    for (int i = 0; i < n; ++i) RegistryRemove(gone[i]);
}

}  // namespace plat::posix::win

using namespace plat::posix::win;

extern "C" {

TAVCAM_POSIX_API WORD WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx) {
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA) || !lpwcx->lpfnWndProc ||
        !lpwcx->lpszClassName || (uintptr_t)lpwcx->lpszClassName < 0x10000 ||
        strlen(lpwcx->lpszClassName) >= kClassName) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WORD atom = 0;
    pthread_mutex_lock(&g_msgLock);
    bool exists = false;
    for (const WindowClass& c : g_classes)
        exists = exists || (c.used && strcasecmp(c.name, lpwcx->lpszClassName) == 0);
    for (const char* system : kSystemClasses)
        exists = exists || strcasecmp(system, lpwcx->lpszClassName) == 0;
    for (int i = 0; i < kClasses && !exists && !atom; ++i) {
        WindowClass& c = g_classes[i];
        if (!c.used) {
            snprintf(c.name, sizeof c.name, "%s", lpwcx->lpszClassName);
            c.proc = lpwcx->lpfnWndProc;
            c.used = true;
            atom = (WORD)(0xC000 + i);
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    if (!atom) ::SetLastError(exists ? ERROR_CLASS_ALREADY_EXISTS : ERROR_NOT_ENOUGH_MEMORY);
    return atom;
}

TAVCAM_POSIX_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName,
                                             LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                                             int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                             HINSTANCE hInstance, LPVOID lpParam) {
    WNDPROC proc = nullptr;
    if (!lpClassName || !FindClass(lpClassName, &proc)) {
        ::SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    bool messageOnly = hWndParent == HWND_MESSAGE;
    uint32_t parent = messageOnly ? 0 : H(hWndParent);
    if (parent && !IsWindow(hWndParent)) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    // The thread gets its queue, the process its socket, before the window
    // can be found by anyone.
    if (!CurrentQueue() || !TransportStart()) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uint32_t tid = (uint32_t)::GetCurrentThreadId();
    bool topLevel = !parent && !messageOnly;
    uint32_t hwnd = RegistryAdd(tid, topLevel ? kTopLevel : 0);
    if (!hwnd) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool stored = false;
    pthread_mutex_lock(&g_msgLock);
    for (Window& w : g_windows) {
        if (!w.hwnd) {
            w = Window{hwnd, tid, parent, proc, topLevel, false, X, Y, nWidth, nHeight};
            stored = true;
            break;
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    if (!stored) {
        RegistryRemove(hwnd);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    CREATESTRUCTA cs{lpParam, hInstance, hMenu,         hWndParent,   nHeight,     nWidth,
                     Y,       X,         (LONG)dwStyle, lpWindowName, lpClassName, dwExStyle};
    if (proc(W(hwnd), WM_CREATE, 0, (LPARAM)&cs) == -1) {
        DestroyWindow(W(hwnd));
        ::SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    // As on Windows, a new window learns its size.
    if (IsWindow(W(hwnd))) proc(W(hwnd), WM_SIZE, 0, SizeParam(nWidth, nHeight));
    return W(hwnd);
}

TAVCAM_POSIX_API BOOL WINAPI DestroyWindow(HWND hWnd) {
    uint32_t hwnd = H(hWnd);
    WNDPROC proc = nullptr;
    pthread_mutex_lock(&g_msgLock);
    Window* w = FindLocked(hwnd);
    DWORD error = 0;
    if (!w || w->destroying) {
        error = ERROR_INVALID_WINDOW_HANDLE;
    } else if (w->tid != (uint32_t)::GetCurrentThreadId()) {
        error = ERROR_ACCESS_DENIED;  // only the owning thread destroys a window
    } else {
        w->destroying = true;
        proc = w->proc;
    }
    pthread_mutex_unlock(&g_msgLock);
    if (error) {
        ::SetLastError(error);
        return FALSE;
    }
    proc(hWnd, WM_DESTROY, 0, 0);
    // Then its children, as Windows does.
    for (;;) {
        uint32_t child = 0;
        pthread_mutex_lock(&g_msgLock);
        for (const Window& c : g_windows)
            if (c.hwnd && c.parent == hwnd && !c.destroying) child = c.hwnd;
        pthread_mutex_unlock(&g_msgLock);
        if (!child) break;
        DestroyWindow(W(child));
    }
    Queue* q = CurrentQueue();
    pthread_mutex_lock(&g_msgLock);
    w = FindLocked(hwnd);
    if (w) *w = Window{};
    if (q) DropWindowTimersLocked(q, hwnd);
    pthread_mutex_unlock(&g_msgLock);
    RegistryRemove(hwnd);
    return TRUE;
}

TAVCAM_POSIX_API BOOL WINAPI IsWindow(HWND hWnd) {
    WindowRecord rec;
    return RegistryFind(H(hWnd), &rec) ? TRUE : FALSE;
}

TAVCAM_POSIX_API LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    if (Msg == WM_CLOSE) DestroyWindow(hWnd);
    return 0;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL) {
    pthread_mutex_lock(&g_msgLock);
    Window* w = FindLocked(H(hWnd));
    if (w) {
        w->x = X;
        w->y = Y;
        w->width = nWidth;
        w->height = nHeight;
    }
    pthread_mutex_unlock(&g_msgLock);
    if (!w) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    SendMessageA(hWnd, WM_SIZE, 0, SizeParam(nWidth, nHeight));
    return TRUE;
}

TAVCAM_POSIX_API BOOL WINAPI TranslateMessage(const MSG*) {
    return FALSE;
}  // no keyboard

TAVCAM_POSIX_API LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg) return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        ((TIMERPROC)lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, (UINT_PTR)lpMsg->wParam,
                                   ::GetTickCount());
        return 0;
    }
    WNDPROC proc = nullptr;
    if (!lpMsg->hwnd || !LocalWindow(H(lpMsg->hwnd), &proc, nullptr)) return 0;
    return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

}  // extern "C"
