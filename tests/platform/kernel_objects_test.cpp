// Named shared memory, events, mutexes and threads, within one process and
// across processes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "child.h"
#include "platform/posix/internal.h"

using platform_test::Args;
using platform_test::Child;
using platform_test::ReadySignal;
using platform_test::UniqueName;

namespace platform_test {

// Creates the mapping, writes 0x5A at byte 100, signals READY, waits to be killed.
int RoleHoldMapping(const Args& args) {
    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                          args.at(0).c_str());
    if (!map) return 2;
    unsigned char* view = (unsigned char*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) return 3;
    view[100] = 0x5A;
    HANDLE ready = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(1).c_str());
    if (!ready || !plat::SetEvent(ready)) return 4;
    for (;;) pause();
}

// Takes the named mutex, signals READY, waits to be killed while owning it.
int RoleOwnMutex(const Args& args) {
    HANDLE m = plat::CreateMutexA(nullptr, FALSE, args.at(0).c_str());
    if (!m || plat::WaitForSingleObject(m, 5000) != WAIT_OBJECT_0) return 2;
    HANDLE ready = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(1).c_str());
    if (!ready || !plat::SetEvent(ready)) return 4;
    for (;;) pause();
}

int RoleSetEvent(const Args& args) {
    HANDLE e = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(0).c_str());
    if (!e) return 2;
    return plat::SetEvent(e) ? 0 : 3;
}

// Creates a mapping and an event, closes neither and ends with exit(), which
// lets go of them as Windows closes the handles of a process that ends.
int RoleCreateAndExit(const Args& args) {
    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                          args.at(0).c_str());
    HANDLE event = plat::CreateEventA(nullptr, TRUE, FALSE, args.at(0).c_str());
    if (!map || !event || !plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0)) return 2;
    exit(0);
}

}  // namespace platform_test

namespace {

HANDLE NewMapping(const std::string& name, DWORD size = 4096) {
    return plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                    name.c_str());
}

bool MappingExists(const std::string& name) {
    return plat::posix::SharedExists("map", name.c_str());
}

TEST(Mapping, SecondCreateSharesTheZeroFilledBlockAndLastCloseRemovesIt) {
    std::string name = UniqueName("map");
    HANDLE a = NewMapping(name, 4784);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS);
    unsigned char* va = (unsigned char*)plat::MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(va, nullptr);
    for (int i = 0; i < 4784; ++i) ASSERT_EQ(va[i], 0) << "byte " << i;
    va[4783] = 7;

    HANDLE b = NewMapping(name, 4784);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    unsigned char* vb = (unsigned char*)plat::MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 4784);
    ASSERT_NE(vb, nullptr);
    EXPECT_NE(va, vb);
    EXPECT_EQ(vb[4783], 7);

    // A view keeps the object alive after its handles are closed.
    EXPECT_TRUE(plat::CloseHandle(a));
    EXPECT_TRUE(plat::CloseHandle(b));
    EXPECT_TRUE(MappingExists(name));
    EXPECT_TRUE(plat::UnmapViewOfFile(va));
    EXPECT_TRUE(MappingExists(name));
    EXPECT_TRUE(plat::UnmapViewOfFile(vb));
    EXPECT_FALSE(MappingExists(name));
    EXPECT_FALSE(plat::UnmapViewOfFile(vb));

    // Made anew afterwards: zero-filled again.
    HANDLE c = NewMapping(name, 4784);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS);
    unsigned char* vc = (unsigned char*)plat::MapViewOfFile(c, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(vc, nullptr);
    EXPECT_EQ(vc[4783], 0);
    plat::UnmapViewOfFile(vc);
    plat::CloseHandle(c);
    EXPECT_FALSE(MappingExists(name));
}

TEST(Mapping, RejectsWhatTheLibraryNeverAsksFor) {
    EXPECT_EQ(plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "x"),
              nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(plat::MapViewOfFile(nullptr, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Mapping, LivesWhileAnotherProcessHoldsItAndGoesWithTheLastEvenWhenKilled) {
    std::string name = UniqueName("map");
    ReadySignal ready("ready");
    Child holder({"hold-mapping", name, ready.name});
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(ready.Wait());

    HANDLE h = NewMapping(name);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    unsigned char* v = (unsigned char*)plat::MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v[100], 0x5A);
    EXPECT_TRUE(plat::UnmapViewOfFile(v));
    EXPECT_TRUE(plat::CloseHandle(h));
    EXPECT_TRUE(MappingExists(name)) << "the child still holds it";

    // Opened again, then the child is killed: our close is the last one.
    h = NewMapping(name);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    holder.Kill();
    EXPECT_TRUE(plat::CloseHandle(h));
    EXPECT_FALSE(MappingExists(name));
}

TEST(Mapping, AKilledLastHolderLeavesNothingTheNextCreatorSees) {
    std::string name = UniqueName("map");
    ReadySignal ready("ready");
    Child holder({"hold-mapping", name, ready.name});
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(ready.Wait());
    holder.Kill();

    HANDLE h = NewMapping(name);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS) << "created anew";
    unsigned char* v = (unsigned char*)plat::MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v[100], 0);
    plat::UnmapViewOfFile(v);
    plat::CloseHandle(h);
    EXPECT_FALSE(MappingExists(name));
}

TEST(Mapping, AProcessEndingWithoutClosingLetsGoOfItsObjects) {
    std::string name = UniqueName("exit");
    Child child({"create-and-exit", name});
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.Wait(5000), 0u);
    EXPECT_FALSE(MappingExists(name));
    EXPECT_FALSE(plat::posix::SharedExists("event", name.c_str()));
}

TEST(Mapping, TwoThreadsCreatingAtOnceShareOneInitialisedObject) {
    for (int round = 0; round < 20; ++round) {
        std::string name = UniqueName("race");
        std::atomic<int> created{0};
        HANDLE handles[4];
        unsigned char* views[4];
        HANDLE threads[4];
        struct Arg {
            const std::string* name;
            std::atomic<int>* created;
            HANDLE* handle;
            unsigned char** view;
        } args[4];
        for (int i = 0; i < 4; ++i) {
            args[i] = Arg{&name, &created, &handles[i], &views[i]};
            threads[i] = plat::CreateThread(
                nullptr, 0,
                [](LPVOID p) -> DWORD {
                    Arg* a = (Arg*)p;
                    *a->handle = NewMapping(*a->name);
                    if (*a->handle && plat::GetLastError() == ERROR_SUCCESS)
                        a->created->fetch_add(1);
                    *a->view = (unsigned char*)plat::MapViewOfFile(*a->handle, FILE_MAP_ALL_ACCESS,
                                                                   0, 0, 0);
                    return 0;
                },
                &args[i], 0, nullptr);
        }
        for (HANDLE t : threads) {
            EXPECT_EQ(plat::WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
            plat::CloseHandle(t);
        }
        EXPECT_EQ(created.load(), 1);
        views[0][5] = (unsigned char)round;
        for (int i = 0; i < 4; ++i) {
            ASSERT_NE(views[i], nullptr);
            EXPECT_EQ(views[i][5], (unsigned char)round);
            plat::UnmapViewOfFile(views[i]);
            plat::CloseHandle(handles[i]);
        }
        EXPECT_FALSE(MappingExists(name));
    }
}

TEST(Event, ManualStaysSetAutoLetsOneWaitThroughPerSet) {
    HANDLE manual = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = plat::CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(autoReset, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(plat::SetEvent(manual));
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(plat::ResetEvent(manual));
    EXPECT_EQ(plat::WaitForSingleObject(manual, 10), WAIT_TIMEOUT);

    EXPECT_EQ(plat::WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0) << "initially set";
    EXPECT_EQ(plat::WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(plat::SetEvent(autoReset));
    EXPECT_TRUE(plat::SetEvent(autoReset));
    EXPECT_EQ(plat::WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(autoReset, 20), WAIT_TIMEOUT);
    plat::CloseHandle(manual);
    plat::CloseHandle(autoReset);
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(plat::SetEvent(manual));
}

TEST(Event, OneSetOfAnAutoEventReleasesExactlyOneOfTwoWaitingThreads) {
    HANDLE e = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    struct Arg {
        HANDLE e;
        std::atomic<int>* woken;
    } arg{e, &woken};
    auto waiter = [](LPVOID p) -> DWORD {
        Arg* a = (Arg*)p;
        if (plat::WaitForSingleObject(a->e, 3000) == WAIT_OBJECT_0) a->woken->fetch_add(1);
        return 0;
    };
    HANDLE t1 = plat::CreateThread(nullptr, 0, waiter, &arg, 0, nullptr);
    HANDLE t2 = plat::CreateThread(nullptr, 0, waiter, &arg, 0, nullptr);
    usleep(50000);
    plat::SetEvent(e);
    usleep(200000);
    EXPECT_EQ(woken.load(), 1);
    plat::SetEvent(e);
    EXPECT_EQ(plat::WaitForSingleObject(t1, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(t2, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(woken.load(), 2);
    plat::CloseHandle(t1);
    plat::CloseHandle(t2);
    plat::CloseHandle(e);
}

TEST(Event, NamedEventIsSharedByNameAndSetFromAnotherProcess) {
    std::string name = UniqueName("pnp");
    EXPECT_EQ(plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);

    HANDLE e = plat::CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS);
    HANDLE again = plat::CreateEventA(nullptr, TRUE, TRUE, name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(plat::WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "existing state kept";

    // Set twice with no waiter: one wait goes through, the next times out.
    HANDLE opened = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(plat::SetEvent(opened));
    EXPECT_TRUE(plat::SetEvent(again));
    EXPECT_EQ(plat::WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(opened, 20), WAIT_TIMEOUT);

    Child setter({"set-event", name});
    ASSERT_TRUE(setter.started());
    EXPECT_EQ(plat::WaitForSingleObject(e, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(setter.Wait(5000), 0u);
    EXPECT_EQ(plat::WaitForSingleObject(e, 0), WAIT_TIMEOUT);

    plat::CloseHandle(opened);
    plat::CloseHandle(again);
    plat::CloseHandle(e);
    EXPECT_FALSE(plat::posix::SharedExists("event", name.c_str()));
    EXPECT_EQ(plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
    // A child opening an event that doesn't exist fails.
    Child late({"set-event", name});
    EXPECT_EQ(late.Wait(5000), 2u);
}

TEST(Mutex, IsRecursiveAndOwnedByOneThread) {
    HANDLE m = plat::CreateMutexA(nullptr, TRUE, UniqueName("mutex").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "owner takes it again";
    struct Arg {
        HANDLE m;
        DWORD result;
        BOOL released;
    } arg{m, 0, TRUE};
    auto other = [](LPVOID p) -> DWORD {
        Arg* a = (Arg*)p;
        a->released = plat::ReleaseMutex(a->m);  // not the owner
        a->result = plat::WaitForSingleObject(a->m, 2000);
        if (a->result == WAIT_OBJECT_0) plat::ReleaseMutex(a->m);
        return 0;
    };
    HANDLE t = plat::CreateThread(nullptr, 0, other, &arg, 0, nullptr);
    usleep(50000);
    EXPECT_TRUE(plat::ReleaseMutex(m));
    usleep(50000);
    EXPECT_EQ(plat::WaitForSingleObject(t, 0), WAIT_TIMEOUT) << "still owned once";
    EXPECT_TRUE(plat::ReleaseMutex(m));
    EXPECT_EQ(plat::WaitForSingleObject(t, 3000), WAIT_OBJECT_0);
    EXPECT_FALSE(arg.released);
    EXPECT_EQ(arg.result, WAIT_OBJECT_0);
    EXPECT_FALSE(plat::ReleaseMutex(m));
    EXPECT_EQ(plat::GetLastError(), ERROR_NOT_OWNER);
    plat::CloseHandle(t);
    plat::CloseHandle(m);
}

TEST(Mutex, OwnedByAnotherProcessUntilItIsKilledThenAbandoned) {
    std::string name = UniqueName("attach");
    ReadySignal ready("ready");
    Child owner({"own-mutex", name, ready.name});
    ASSERT_TRUE(owner.started());
    ASSERT_TRUE(ready.Wait());
    HANDLE m = plat::CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(plat::WaitForSingleObject(m, 100), WAIT_TIMEOUT) << "initial owner is ignored";
    owner.Kill();
    EXPECT_EQ(plat::WaitForSingleObject(m, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(plat::ReleaseMutex(m));
    EXPECT_EQ(plat::WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "usable after recovery";
    EXPECT_TRUE(plat::ReleaseMutex(m));
    plat::CloseHandle(m);
    EXPECT_FALSE(plat::posix::SharedExists("mutex", name.c_str()));
}

TEST(Thread, ReportsItsIdAndExitCodeAndCanBeWaitedFor) {
    HANDLE go = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    struct Arg {
        HANDLE go;
        DWORD seenId;
    } arg{go, 0};
    DWORD id = 0;
    HANDLE t = plat::CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            Arg* a = (Arg*)p;
            a->seenId = plat::GetCurrentThreadId();
            plat::WaitForSingleObject(a->go, 5000);
            return 1234;
        },
        &arg, 0, &id);
    ASSERT_NE(t, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(plat::GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(plat::WaitForSingleObject(t, 20), WAIT_TIMEOUT);
    plat::SetEvent(go);
    EXPECT_EQ(plat::WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(plat::GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 1234u);
    EXPECT_EQ(arg.seenId, id);
    EXPECT_NE(id, plat::GetCurrentThreadId());
    plat::CloseHandle(t);
    plat::CloseHandle(go);
}

}  // namespace
