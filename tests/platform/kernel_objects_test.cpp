// Named shared memory, events, mutexes and threads, within one process and
// across processes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "child.h"
#include "platform/posix/internal.h"

namespace platform_test {
namespace {

HANDLE NewMapping(const std::string& name, DWORD size = 4096) {
    return plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                    name.c_str());
}

unsigned char* View(HANDLE map, size_t bytes = 0) {
    return (unsigned char*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, bytes);
}

}  // namespace

// Creates the mapping, writes 0x5A at byte 100, signals READY, waits to be killed.
int RoleHoldMapping(const Args& args) {
    unsigned char* view = View(NewMapping(args.at(0)));
    if (!view) return 3;
    view[100] = 0x5A;
    if (!SetNamedEvent(args.at(1))) return 4;
    for (;;) pause();
}

// Takes the named mutex, signals READY, waits to be killed while owning it.
int RoleOwnMutex(const Args& args) {
    HANDLE m = plat::CreateMutexA(nullptr, FALSE, args.at(0).c_str());
    if (!m || plat::WaitForSingleObject(m, 5000) != WAIT_OBJECT_0) return 2;
    if (!SetNamedEvent(args.at(1))) return 4;
    for (;;) pause();
}

int RoleSetEvent(const Args& args) {
    return SetNamedEvent(args.at(0)) ? 0 : 2;
}

// Creates a mapping and an event, closes neither and ends with exit(), which
// lets go of them as Windows closes the handles of a process that ends.
int RoleCreateAndExit(const Args& args) {
    HANDLE event = plat::CreateEventA(nullptr, TRUE, FALSE, args.at(0).c_str());
    if (!event || !View(NewMapping(args.at(0)))) return 2;
    exit(0);
}

namespace {

bool MappingExists(const std::string& name) {
    return plat::posix::SharedExists("map", name.c_str());
}

TEST(Mapping, SecondCreateSharesTheZeroFilledBlockAndLastCloseRemovesIt) {
    std::string name = UniqueName("map");
    HANDLE a = NewMapping(name, 4784);
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS);
    unsigned char* va = View(a);
    ASSERT_NE(va, nullptr);
    for (int i = 0; i < 4784; ++i) ASSERT_EQ(va[i], 0) << "byte " << i;
    va[4783] = 7;

    HANDLE b = NewMapping(name, 4784);
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    unsigned char* vb = View(b, 4784);
    ASSERT_NE(vb, nullptr);
    EXPECT_NE(va, vb);
    EXPECT_EQ(vb[4783], 7);

    // A view keeps the object alive after its handles are closed.
    EXPECT_TRUE(plat::CloseHandle(a));
    EXPECT_TRUE(plat::CloseHandle(b));
    EXPECT_TRUE(plat::UnmapViewOfFile(va));
    EXPECT_TRUE(MappingExists(name));
    EXPECT_TRUE(plat::UnmapViewOfFile(vb));
    EXPECT_FALSE(MappingExists(name));
    EXPECT_FALSE(plat::UnmapViewOfFile(vb));

    // Made anew afterwards: zero-filled again.
    HANDLE c = NewMapping(name, 4784);
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS);
    unsigned char* vc = View(c);
    ASSERT_NE(vc, nullptr);
    EXPECT_EQ(vc[4783], 0);
    plat::UnmapViewOfFile(vc);
    plat::CloseHandle(c);
    EXPECT_FALSE(MappingExists(name));

    // What the library never asks for is refused.
    EXPECT_EQ(NewMapping("x", 0), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(View(nullptr), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_HANDLE);
}

// The object lives while another process holds it and goes with the last
// holder, even a killed one; then the next creator makes it anew.
TEST(Mapping, LivesWhileAnotherProcessHoldsItAndGoesWithTheLastEvenWhenKilled) {
    for (bool killedFirst : {false, true}) {
        SCOPED_TRACE(killedFirst ? "the holder killed before we open" : "we hold it too");
        std::string name = UniqueName("map");
        ReadySignal ready("ready");
        Child holder({"hold-mapping", name, ready.name});
        ASSERT_TRUE(ready.Wait());
        if (killedFirst) holder.Kill();
        HANDLE h = NewMapping(name);
        EXPECT_EQ(plat::GetLastError(), killedFirst ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
        unsigned char* v = View(h);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v[100], killedFirst ? 0 : 0x5A);
        EXPECT_TRUE(plat::UnmapViewOfFile(v));
        EXPECT_TRUE(plat::CloseHandle(h));
        EXPECT_EQ(MappingExists(name), !killedFirst) << "the child still holds it";
        if (killedFirst) continue;
        // Opened again, then the child is killed: our close is the last one.
        h = NewMapping(name);
        EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
        holder.Kill();
        EXPECT_TRUE(plat::CloseHandle(h));
        EXPECT_FALSE(MappingExists(name));
    }
}

TEST(Mapping, AProcessEndingWithoutClosingLetsGoOfItsObjects) {
    std::string name = UniqueName("exit");
    Child child({"create-and-exit", name});
    EXPECT_EQ(child.Wait(), 0u);
    EXPECT_FALSE(MappingExists(name));
    EXPECT_FALSE(plat::posix::SharedExists("event", name.c_str()));
}

TEST(Mapping, TwoThreadsCreatingAtOnceShareOneInitialisedObject) {
    for (int round = 0; round < 20; ++round) {
        std::string name = UniqueName("race");
        std::atomic<int> created{0};
        HANDLE handles[4];
        unsigned char* views[4];
        std::thread threads[4];
        for (int i = 0; i < 4; ++i)
            threads[i] = std::thread([&, i] {
                handles[i] = NewMapping(name);
                if (handles[i] && plat::GetLastError() == ERROR_SUCCESS) created.fetch_add(1);
                views[i] = View(handles[i]);
            });
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(created.load(), 1);
        for (int i = 0; i < 4; ++i) ASSERT_NE(views[i], nullptr);
        views[0][5] = (unsigned char)round;
        for (int i = 0; i < 4; ++i) {
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

    // One set of an auto-reset event releases exactly one of two waiting threads.
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (plat::WaitForSingleObject(autoReset, 3000) == WAIT_OBJECT_0) woken.fetch_add(1);
    };
    std::thread t1(waiter), t2(waiter);
    usleep(50000);
    plat::SetEvent(autoReset);
    usleep(200000);
    EXPECT_EQ(woken.load(), 1);
    plat::SetEvent(autoReset);
    t1.join();
    t2.join();
    EXPECT_EQ(woken.load(), 2);

    plat::CloseHandle(manual);
    plat::CloseHandle(autoReset);
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(plat::SetEvent(manual));
}

TEST(Event, NamedEventIsSharedByNameAndSetFromAnotherProcess) {
    std::string name = UniqueName("pnp");
    EXPECT_EQ(plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE e = plat::CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    EXPECT_EQ(plat::GetLastError(), ERROR_SUCCESS);
    HANDLE again = plat::CreateEventA(nullptr, TRUE, TRUE, name.c_str());
    EXPECT_EQ(plat::GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(plat::WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "existing state kept";

    // Set twice with no waiter: one wait goes through, the next times out.
    HANDLE opened = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    EXPECT_TRUE(plat::SetEvent(opened));
    EXPECT_TRUE(plat::SetEvent(again));
    EXPECT_EQ(plat::WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(opened, 20), WAIT_TIMEOUT);

    Child setter({"set-event", name});
    EXPECT_EQ(plat::WaitForSingleObject(e, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(setter.Wait(), 0u);
    EXPECT_EQ(plat::WaitForSingleObject(e, 0), WAIT_TIMEOUT);

    for (HANDLE h : {opened, again, e}) plat::CloseHandle(h);
    EXPECT_FALSE(plat::posix::SharedExists("event", name.c_str()));
    EXPECT_EQ(plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
    Child late({"set-event", name});
    EXPECT_EQ(late.Wait(), 2u) << "a child opening an event that doesn't exist fails";
}

// The attach lock's use: created unowned, taken with a bound, released;
// taken over (abandoned) when its owner dies.
TEST(Mutex, OwnedByAnotherProcessUntilItIsKilledThenAbandoned) {
    std::string name = UniqueName("attach");
    ReadySignal ready("ready");
    Child owner({"own-mutex", name, ready.name});
    ASSERT_TRUE(ready.Wait());
    HANDLE m = plat::CreateMutexA(nullptr, TRUE, name.c_str());
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

}  // namespace
}  // namespace platform_test
