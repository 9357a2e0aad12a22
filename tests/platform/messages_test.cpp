// Windows and messages: within a thread, between threads and between
// processes; timers.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "child.h"
#include "platform/posix/internal.h"
#include "support/testing.h"

namespace platform_test {
namespace {

constexpr UINT kTwiceWPlusL = WM_USER + 1;  // answers 2 * wParam + lParam
constexpr UINT kAskBack = WM_USER + 2;      // sends kTwiceWPlusL(5, 1) to window lParam, + 1000
constexpr UINT kHang = WM_USER + 4;         // never answers

LRESULT CALLBACK ServerProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    switch (msg) {
        case kTwiceWPlusL:
            return (LRESULT)(2 * w) + l;
        case kAskBack:
            return plat::SendMessageA((HWND)l, kTwiceWPlusL, 5, 1) + 1000;
        case kHang:
            for (;;) pause();
        case WM_DESTROY:
            plat::PostQuitMessage(0);
            return 0;
    }
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

bool RegisterServerClass() {
    static bool done = false;
    if (done) return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ServerProc;
    wc.lpszClassName = "PlatformTestServer";
    done = plat::RegisterClassExA(&wc) != 0;
    return done;
}

HWND NewServerWindow() {
    if (!RegisterServerClass()) return nullptr;
    // Message-only: no device-change broadcast can slip into a test's messages.
    return plat::CreateWindowExA(0, "PlatformTestServer", "server", 0, 0, 0, 10, 10, HWND_MESSAGE,
                                 nullptr, nullptr, nullptr);
}

}  // namespace

// MAP READY [PEER COUNT]: a window answering sends; its handle goes into the
// named mapping MAP. With PEER, it also sends COUNT messages to window PEER
// while the parent sends to it; exit code 0 when every answer was right.
int RoleWindowServer(const Args& args) {
    HWND hwnd = NewServerWindow();
    if (!hwnd) return 2;
    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64,
                                          args.at(0).c_str());
    uint32_t* info =
        map ? (uint32_t*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (!info) return 3;
    info[0] = plat::WindowToField(hwnd);
    HANDLE ready = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(1).c_str());
    if (!ready || !plat::SetEvent(ready)) return 4;
    int failures = 0;
    if (args.size() >= 4) {
        HWND peer = plat::FieldToWindow((uint32_t)strtoul(args[2].c_str(), nullptr, 10));
        int count = atoi(args[3].c_str());
        for (int i = 0; i < count; ++i)
            if (plat::SendMessageA(peer, kTwiceWPlusL, (WPARAM)i, 1) != 2 * i + 1) ++failures;
    }
    MSG msg;
    while (plat::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        plat::TranslateMessage(&msg);
        plat::DispatchMessageA(&msg);
    }
    return failures ? 5 : 0;
}

// FILE: a window whose handle goes into FILE, then an end without letting go
// of anything, as a killed process ends.
int RoleWindowAndExit(const Args& args) {
    HWND hwnd = NewServerWindow();
    if (!hwnd) return 2;
    FILE* f = fopen(args.at(0).c_str(), "w");
    if (!f) return 3;
    fprintf(f, "%u\n", (unsigned)plat::WindowToField(hwnd));
    fclose(f);
    return 0;
}

namespace {

// A window server in another process, with its window handle.
struct Server {
    explicit Server(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"window-server", mapName, ready.name};
        args.insert(args.end(), extra.begin(), extra.end());
        map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64,
                                       mapName.c_str());
        info = (uint32_t*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
        child = new Child(args);
        if (child->started() && ready.Wait()) hwnd = plat::FieldToWindow(info[0]);
    }
    ~Server() {
        delete child;
        plat::UnmapViewOfFile(info);
        plat::CloseHandle(map);
    }
    std::string mapName = UniqueName("server");
    ReadySignal ready{"ready"};
    HANDLE map;
    uint32_t* info;
    Child* child;
    HWND hwnd = nullptr;
};

// Pumps this thread's messages until done is set (at most ms).
void PumpUntil(const std::atomic<bool>& done, DWORD ms) {
    uint64_t end = plat::posix::MonotonicMs() + ms;
    MSG msg;
    while (!done.load() && plat::posix::MonotonicMs() < end) {
        while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) plat::DispatchMessageA(&msg);
        usleep(1000);
    }
}

TEST(Messages, SendToAnotherProcessReturnsItsAnswerAndPostedCloseEndsIt) {
    Server server;
    ASSERT_NE(server.hwnd, nullptr);
    EXPECT_TRUE(plat::IsWindow(server.hwnd));
    EXPECT_EQ(plat::SendMessageA(server.hwnd, kTwiceWPlusL, 20, 2), 42);
    EXPECT_EQ(plat::SendMessageA(server.hwnd, kTwiceWPlusL, 0x10000, -3), 0x20000 - 3);
    // Unknown messages get the default answer, 0.
    EXPECT_EQ(plat::SendMessageA(server.hwnd, WM_USER + 77, 1, 1), 0);
    // WM_CLOSE destroys the window by default; its WM_DESTROY ends the loop.
    EXPECT_TRUE(plat::PostMessageA(server.hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(server.child->Wait(5000), 0u);
    // Once its process is reaped the window is gone at once (see the next test
    // for what once made it look alive for a while).
    EXPECT_FALSE(plat::IsWindow(server.hwnd));
    EXPECT_EQ(plat::SendMessageA(server.hwnd, kTwiceWPlusL, 1, 1), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(plat::PostMessageA(server.hwnd, kTwiceWPlusL, 1, 1));
}

// The window registry goes with the last process holding it; a process that
// dies holds it no more, and the next process to open it makes it anew. The
// handles of the new registry must not repeat those of the old: a handle kept
// from a dead window would otherwise name another process's window, which
// made a window look alive after its process was reaped while other test
// processes were creating windows. Two processes in a namespace of their own,
// each the registry's only user, must get different handles.
TEST(Messages, ARegistryMadeAnewHandsOutNewHandles) {
    testing_support::TempDir dir;
    const std::string file = dir.path + "/handle";
    unsigned handles[2] = {0, 0};
    for (unsigned& handle : handles) {
        Child child({"window-and-exit", file}, {"TAVCAM_RUNTIME_DIR=" + dir.path});
        ASSERT_TRUE(child.started());
        ASSERT_EQ(child.Wait(5000), 0u);
        FILE* f = fopen(file.c_str(), "r");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(fscanf(f, "%u", &handle), 1);
        fclose(f);
    }
    EXPECT_NE(handles[0], 0u);
    EXPECT_NE(handles[0], handles[1]);
}

TEST(Messages, SendToAWindowWhoseProcessDiedFailsInsteadOfHanging) {
    Server server;
    ASSERT_NE(server.hwnd, nullptr);
    server.child->Kill();
    EXPECT_EQ(plat::SendMessageA(server.hwnd, kTwiceWPlusL, 1, 1), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(plat::IsWindow(server.hwnd));

    // Killed while it handles our message: the send notices and fails.
    Server hung;
    ASSERT_NE(hung.hwnd, nullptr);
    struct Arg {
        Child* child;
    } arg{hung.child};
    HANDLE killer = plat::CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            usleep(200000);
            ((Arg*)p)->child->Kill();
            return 0;
        },
        &arg, 0, nullptr);
    EXPECT_EQ(plat::SendMessageA(hung.hwnd, kHang, 0, 0), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    plat::WaitForSingleObject(killer, 5000);
    plat::CloseHandle(killer);
}

TEST(Messages, SendWithATimeOutReturnsTheAnswerOrGivesUpWhenItRunsOut) {
    Server server;
    ASSERT_NE(server.hwnd, nullptr);
    DWORD_PTR answer = 0;
    EXPECT_NE(
        plat::SendMessageTimeoutA(server.hwnd, kTwiceWPlusL, 20, 2, SMTO_NORMAL, 5000, &answer), 0);
    EXPECT_EQ(answer, 42u);
    // A window that does not answer: the send gives up after its time-out.
    uint64_t start = plat::posix::MonotonicMs();
    EXPECT_EQ(plat::SendMessageTimeoutA(server.hwnd, kHang, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                        300, &answer),
              0);
    EXPECT_EQ(plat::GetLastError(), ERROR_TIMEOUT);
    uint64_t waited = plat::posix::MonotonicMs() - start;
    EXPECT_GE(waited, 300u);
    EXPECT_LT(waited, 5000u);
    // A window that is gone fails at once, with its own error.
    server.child->Kill();
    EXPECT_EQ(
        plat::SendMessageTimeoutA(server.hwnd, kTwiceWPlusL, 1, 1, SMTO_NORMAL, 5000, &answer), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(Messages, NestedAndSimultaneousSendsBetweenTwoProcessesComplete) {
    HWND mine = NewServerWindow();
    ASSERT_NE(mine, nullptr);
    {
        // The other side sends back to us while we wait for its answer.
        Server server;
        ASSERT_NE(server.hwnd, nullptr);
        EXPECT_EQ(plat::SendMessageA(server.hwnd, kAskBack, 0, (LPARAM)mine), 1011);
        plat::PostMessageA(server.hwnd, WM_CLOSE, 0, 0);
        EXPECT_EQ(server.child->Wait(5000), 0u);
    }
    {
        // Both send 200 messages at once, each waiting for the other.
        constexpr int kCount = 200;
        Server server({std::to_string(plat::WindowToField(mine)), std::to_string(kCount)});
        ASSERT_NE(server.hwnd, nullptr);
        int wrong = 0;
        for (int i = 0; i < kCount; ++i)
            if (plat::SendMessageA(server.hwnd, kTwiceWPlusL, (WPARAM)i, 2) != 2 * i + 2) ++wrong;
        EXPECT_EQ(wrong, 0);
        // Its remaining sends are answered while we pump, until it ends.
        plat::PostMessageA(server.hwnd, WM_CLOSE, 0, 0);
        MSG msg;
        for (int i = 0; i < 5000 && server.child->Wait(0) == ~0u; ++i) {
            while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) plat::DispatchMessageA(&msg);
            usleep(1000);
        }
        EXPECT_EQ(server.child->Wait(0), 0u) << "the other side's answers were right";
    }
    EXPECT_TRUE(plat::DestroyWindow(mine));
    MSG msg;
    while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// Records what a window receives, in order.
struct Journal {
    UINT msgs[64];
    LPARAM lparams[64];
    int count = 0;
    void Add(UINT m, LPARAM l) {
        if (count < 64) {
            msgs[count] = m;
            lparams[count] = l;
            ++count;
        }
    }
};
Journal g_journal;
void* g_createParam = nullptr;

LRESULT CALLBACK JournalProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_CREATE) g_createParam = ((CREATESTRUCTA*)l)->lpCreateParams;
    if (msg == kTwiceWPlusL && l == 99) return plat::SendMessageA(hwnd, kTwiceWPlusL, w, 1);
    g_journal.Add(msg, msg == WM_CREATE ? 0 : l);
    if (msg == kTwiceWPlusL) return (LRESULT)(2 * w) + l;
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

TEST(Windows, CreationMovingDestructionAndClasses) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = JournalProc;
    wc.lpszClassName = "PlatformTestJournal";
    WORD atom = plat::RegisterClassExA(&wc);
    ASSERT_NE(atom, 0);
    EXPECT_EQ(plat::RegisterClassExA(&wc), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(plat::CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                    nullptr),
              nullptr);

    g_journal = Journal{};
    int param = 0;
    HWND top = plat::CreateWindowExA(0x110, "PlatformTestJournal", "TAVCAM DLL", 0x02CF0000, 0, 0,
                                     600, 200, nullptr, nullptr, nullptr, &param);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(g_createParam, &param);
    ASSERT_GE(g_journal.count, 2);
    EXPECT_EQ(g_journal.msgs[0], (UINT)WM_CREATE);
    EXPECT_EQ(g_journal.msgs[1], (UINT)WM_SIZE);
    EXPECT_EQ(g_journal.lparams[1], (LPARAM)(200 << 16 | 600));

    HWND edit = plat::CreateWindowExA(0, "edit", "", 0x50A018C4, 0, 0, 0, 0, top, nullptr, nullptr,
                                      nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(plat::MoveWindow(edit, 0, 0, 300, 100, TRUE));
    g_journal = Journal{};
    EXPECT_TRUE(plat::MoveWindow(top, 0, 0, 640, 480, TRUE));
    ASSERT_EQ(g_journal.count, 1);
    EXPECT_EQ(g_journal.msgs[0], (UINT)WM_SIZE);
    EXPECT_EQ(g_journal.lparams[0], (LPARAM)(480 << 16 | 640));

    // A send to a window of the same thread calls the procedure directly,
    // also from inside the procedure.
    EXPECT_EQ(plat::SendMessageA(top, kTwiceWPlusL, 4, 99), 9);

    // WM_CLOSE through the default procedure destroys the window and its child.
    g_journal = Journal{};
    EXPECT_EQ(plat::SendMessageA(top, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(plat::IsWindow(top));
    EXPECT_FALSE(plat::IsWindow(edit));
    ASSERT_EQ(g_journal.count, 2);
    EXPECT_EQ(g_journal.msgs[0], (UINT)WM_CLOSE);
    EXPECT_EQ(g_journal.msgs[1], (UINT)WM_DESTROY);
    EXPECT_FALSE(plat::DestroyWindow(top));
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(plat::MoveWindow(top, 0, 0, 1, 1, TRUE));
}

TEST(Windows, MessageLoopOrderQuitAndErrors) {
    HWND w = NewServerWindow();
    ASSERT_NE(w, nullptr);
    MSG msg;
    EXPECT_EQ(plat::GetMessageA(&msg, plat::FieldToWindow(0x7FFFFFF0), 0, 0), -1);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);

    EXPECT_TRUE(plat::PostMessageA(w, WM_USER + 10, 1, 0));
    EXPECT_TRUE(plat::PostMessageA(nullptr, WM_USER + 11, 2, 0));  // to the thread
    EXPECT_TRUE(plat::PostMessageA(w, WM_USER + 12, 3, 0));
    plat::PostQuitMessage(7);
    // Peek without removing leaves the message in place.
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)(WM_USER + 10));
    // A filter by message number takes the matching one out of order.
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, WM_USER + 12, WM_USER + 12, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, (UINT)(WM_USER + 10));
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, (UINT)(WM_USER + 11));
    EXPECT_EQ(msg.hwnd, nullptr);
    // WM_QUIT comes after the posted messages, once.
    EXPECT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(plat::DestroyWindow(w));
    while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(Windows, SendFromAnotherThreadIsHandledByTheOwnerWhileItPumps) {
    HWND w = NewServerWindow();
    ASSERT_NE(w, nullptr);
    struct Arg {
        HWND w;
        LRESULT result;
        std::atomic<bool> done;
    } arg{w, 0, {false}};
    HANDLE t = plat::CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            Arg* a = (Arg*)p;
            a->result = plat::SendMessageA(a->w, kTwiceWPlusL, 3, 4);
            a->done.store(true);
            return 0;
        },
        &arg, 0, nullptr);
    PumpUntil(arg.done, 5000);
    EXPECT_EQ(plat::WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(arg.result, 10);
    plat::CloseHandle(t);
    EXPECT_TRUE(plat::DestroyWindow(w));
    MSG msg;
    while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::atomic<int> g_timerProcCalls{0};
void CALLBACK CountTimer(HWND, UINT msg, UINT_PTR, DWORD) {
    if (msg == WM_TIMER) g_timerProcCalls.fetch_add(1);
}

TEST(Windows, TimersArriveThroughTheQueueUntilKilled) {
    HWND w = NewServerWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(plat::SetTimer(w, 1, 20, nullptr), 1u);
    UINT_PTR threadTimer = plat::SetTimer(nullptr, 0, 15, CountTimer);
    EXPECT_NE(threadTimer, 0u);
    int windowTicks = 0;
    MSG msg;
    uint64_t start = plat::posix::MonotonicMs();
    while ((windowTicks < 3 || g_timerProcCalls.load() < 3) &&
           plat::posix::MonotonicMs() - start < 5000) {
        ASSERT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 1);
        if (msg.message == WM_TIMER && msg.hwnd == w) {
            EXPECT_EQ(msg.wParam, 1u);
            ++windowTicks;
        }
        plat::DispatchMessageA(&msg);
    }
    EXPECT_GE(windowTicks, 3);
    EXPECT_GE(g_timerProcCalls.load(), 3);
    EXPECT_TRUE(plat::KillTimer(w, 1));
    EXPECT_TRUE(plat::KillTimer(nullptr, threadTimer));
    EXPECT_FALSE(plat::KillTimer(w, 1));
    usleep(60000);
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_TRUE(plat::DestroyWindow(w));
}

}  // namespace
}  // namespace platform_test
