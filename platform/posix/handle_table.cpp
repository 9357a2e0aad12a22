#include "handle_table.h"

#include <mutex>

namespace plat::posix {
namespace {

// 4096 handles are far more than the library ever holds at once (a few per
// camera and per reader); the table is fixed so it never allocates.
constexpr int kSlots = 4096;

struct Slot {
    void* object;
    ObjectRelease release;
    uint32_t refs;  // 1 for the handle itself while open, plus one per acquire
    bool open;
    ObjectKind kind;
};

std::mutex g_lock;
Slot g_slots[kSlots];
int g_next = 0;  // where the search for a free slot starts, so values aren't reused at once

int IndexOf(HANDLE h) {
    uintptr_t v = (uintptr_t)h;
    if (v == 0 || (v & 3) != 0) return -1;
    uintptr_t i = v / 4 - 1;
    return i < (uintptr_t)kSlots ? (int)i : -1;
}

// Drops one reference with the lock held; returns the object to release, if any.
Slot DropLocked(Slot& s) {
    Slot done{};
    if (--s.refs == 0) {
        done = s;
        s = Slot{};
    }
    return done;
}

void Finish(const Slot& done) {
    if (done.release && done.object) done.release(done.object);
}

}  // namespace

HANDLE HandleInsert(ObjectKind kind, void* object, ObjectRelease release) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (int n = 0; n < kSlots; ++n) {
        int i = (g_next + n) % kSlots;
        Slot& s = g_slots[i];
        if (s.refs == 0) {
            s = Slot{object, release, 1, true, kind};
            g_next = (i + 1) % kSlots;
            return (HANDLE)(uintptr_t)((i + 1) * 4);
        }
    }
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

void* HandleAcquireAny(HANDLE h, ObjectKind* kind) {
    int i = IndexOf(h);
    std::lock_guard<std::mutex> guard(g_lock);
    if (i < 0 || !g_slots[i].open) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Slot& s = g_slots[i];
    ++s.refs;
    if (kind) *kind = s.kind;
    return s.object;
}

void* HandleAcquire(HANDLE h, ObjectKind kind) {
    ObjectKind actual;
    void* object = HandleAcquireAny(h, &actual);
    if (object && actual != kind) {
        HandleRelease(h);
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

void HandleRelease(HANDLE h) {
    int i = IndexOf(h);
    if (i < 0) return;
    Slot done{};
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_slots[i].refs > 0) done = DropLocked(g_slots[i]);
    }
    Finish(done);
}

bool HandleClose(HANDLE h) {
    int i = IndexOf(h);
    Slot done{};
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (i < 0 || !g_slots[i].open) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        g_slots[i].open = false;
        done = DropLocked(g_slots[i]);
    }
    Finish(done);
    return true;
}

int HandleCount() {
    std::lock_guard<std::mutex> guard(g_lock);
    int n = 0;
    for (const Slot& s : g_slots) n += s.open ? 1 : 0;
    return n;
}

}  // namespace plat::posix
