// CreateFileMappingA / MapViewOfFile / UnmapViewOfFile over named shared
// objects (see internal.h). A view keeps its object alive after the handle is
// closed, as on Windows; MapViewOfFile returns the user area, zero-filled at
// creation.
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include "handle_table.h"
#include "internal.h"

namespace plat::posix {
namespace {

// Views open at once in one process: the library keeps one.
constexpr int kViews = 256;

struct View {
    void* user;
    void* base;
    size_t total;
    SharedObject* object;
};

pthread_mutex_t g_viewLock = PTHREAD_MUTEX_INITIALIZER;
View g_views[kViews];

void ReleaseMapping(void* object) {
    SharedRelease((SharedObject*)object);
}

}  // namespace
}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName) {
    // Only mappings backed by the paging file, read/write, are used.
    if (hFile != INVALID_HANDLE_VALUE || flProtect != PAGE_READWRITE ||
        (dwMaximumSizeHigh == 0 && dwMaximumSizeLow == 0)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The size in 64 bits; a 32-bit process can't map more than its address space.
    const uint64_t wanted = ((uint64_t)dwMaximumSizeHigh << 32) | dwMaximumSizeLow;
    if (wanted > (uint64_t)SIZE_MAX) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    size_t size = (size_t)wanted;
    bool existed = false;
    SharedObject* object = nullptr;
    if (lpName && *lpName) {
        object = SharedOpen("map", lpName, size, true, nullptr, nullptr, &existed);
    } else {
        // An unnamed mapping gets a name nobody else knows (process id and a
        // serial number), so it goes through the same code.
        char name[64];
        static std::atomic<uint32_t> serial{0};
        snprintf(name, sizeof name, "anon.%d.%u", (int)getpid(), serial.fetch_add(1));
        object = SharedOpen("map", name, size, true, nullptr, nullptr, &existed);
    }
    if (!object) return nullptr;
    HANDLE h = HandleInsert(ObjectKind::Mapping, object, ReleaseMapping);
    if (!h) {
        SharedRelease(object);
        return nullptr;
    }
    ::SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, size_t dwNumberOfBytesToMap) {
    SharedObject* object = (SharedObject*)HandleAcquire(hFileMappingObject, ObjectKind::Mapping);
    if (!object) return nullptr;
    LPVOID result = nullptr;
    size_t size = SharedSize(object);
    if (dwFileOffsetHigh != 0 || dwFileOffsetLow != 0 || dwNumberOfBytesToMap > size) {
        ::SetLastError(ERROR_INVALID_PARAMETER);  // the library maps whole objects
    } else {
        size_t total = kSharedHeaderSize + size;
        void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, SharedFd(object), 0);
        if (base == MAP_FAILED) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        } else {
            pthread_mutex_lock(&g_viewLock);
            for (View& v : g_views) {
                if (!v.base) {
                    SharedAddRef(object);
                    v = View{(char*)base + kSharedHeaderSize, base, total, object};
                    result = v.user;
                    break;
                }
            }
            pthread_mutex_unlock(&g_viewLock);
            if (!result) {
                munmap(base, total);
                ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            }
        }
    }
    HandleRelease(hFileMappingObject);
    return result;
}

BOOL WINAPI UnmapViewOfFile(LPVOID lpBaseAddress) {
    View found{};
    pthread_mutex_lock(&g_viewLock);
    for (View& v : g_views) {
        if (v.base && v.user == lpBaseAddress) {
            found = v;
            v = View{};
            break;
        }
    }
    pthread_mutex_unlock(&g_viewLock);
    if (!found.base) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    munmap(found.base, found.total);
    SharedRelease(found.object);
    return TRUE;
}

}  // extern "C"
