// Windows and messages: within a thread, between threads and between
// processes; timers.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

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

HWND NewServerWindow() {
    static bool registered = false;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ServerProc;
    wc.lpszClassName = "PlatformTestServer";
    registered = registered || plat::RegisterClassExA(&wc) != 0;
    // Message-only: no device-change broadcast can slip into a test's messages.
    return plat::CreateWindowExA(0, "PlatformTestServer", "server", 0, 0, 0, 10, 10, HWND_MESSAGE,
                                 nullptr, nullptr, nullptr);
}

// Dispatches this thread's messages until done() holds (at most 5 s).
template <typename F>
void PumpUntil(F done) {
    MSG msg;
    for (uint64_t end = plat::posix::MonotonicMs() + 5000;
         !done() && plat::posix::MonotonicMs() < end; usleep(1000))
        while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) plat::DispatchMessageA(&msg);
}

void DestroyAndDrain(HWND w) {
    EXPECT_TRUE(plat::DestroyWindow(w));
    MSG msg;
    while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

}  // namespace

// MAP READY [PEER COUNT]: a window answering sends; its handle goes into the
// named mapping MAP. With PEER, it also sends COUNT messages to window PEER
// while the parent sends to it; exit code 0 when every answer was right.
int RoleWindowServer(const Args& args) {
    HWND hwnd = NewServerWindow();
    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64,
                                          args.at(0).c_str());
    uint32_t* info = (uint32_t*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!hwnd || !info) return 2;
    info[0] = plat::WindowToField(hwnd);
    if (!SetNamedEvent(args.at(1))) return 4;
    int failures = 0;
    if (args.size() >= 4) {
        HWND peer = plat::FieldToWindow((uint32_t)strtoul(args[2].c_str(), nullptr, 10));
        for (int i = 0; i < atoi(args[3].c_str()); ++i)
            if (plat::SendMessageA(peer, kTwiceWPlusL, (WPARAM)i, 1) != 2 * i + 1) ++failures;
    }
    MSG msg;
    while (plat::GetMessageA(&msg, nullptr, 0, 0) > 0) plat::DispatchMessageA(&msg);
    return failures ? 5 : 0;
}

// FILE: a window whose handle goes into FILE, then an end without letting go
// of anything, as a killed process ends.
int RoleWindowAndExit(const Args& args) {
    HWND hwnd = NewServerWindow();
    FILE* f = fopen(args.at(0).c_str(), "w");
    if (!hwnd || !f) return 2;
    fprintf(f, "%u\n", (unsigned)plat::WindowToField(hwnd));
    fclose(f);
    return 0;
}

namespace {

// A window server in another process, with its window handle.
struct Server {
    explicit Server(const Args& extra = {}) {
        Args args = {"window-server", mapName, ready.name};
        args.insert(args.end(), extra.begin(), extra.end());
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
    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64,
                                          mapName.c_str());
    uint32_t* info = (uint32_t*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    Child* child;
    HWND hwnd = nullptr;
};

void ExpectGone(HWND hwnd) {
    EXPECT_FALSE(plat::IsWindow(hwnd));
    EXPECT_EQ(plat::SendMessageA(hwnd, kTwiceWPlusL, 1, 1), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    DWORD_PTR answer = 0;
    EXPECT_EQ(plat::SendMessageTimeoutA(hwnd, kTwiceWPlusL, 1, 1, SMTO_NORMAL, 5000, &answer), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(plat::PostMessageA(hwnd, kTwiceWPlusL, 1, 1));
}

TEST(Messages, SendToAnotherProcessAnswersOrTimesOutAndAPostedCloseEndsIt) {
    Server server;
    ASSERT_NE(server.hwnd, nullptr);
    EXPECT_TRUE(plat::IsWindow(server.hwnd));
    EXPECT_EQ(plat::SendMessageA(server.hwnd, kTwiceWPlusL, 20, 2), 42);
    EXPECT_EQ(plat::SendMessageA(server.hwnd, kTwiceWPlusL, 0x10000, -3), 0x20000 - 3);
    EXPECT_EQ(plat::SendMessageA(server.hwnd, WM_USER + 77, 1, 1), 0) << "the default answer";
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

    // WM_CLOSE destroys the window by default; its WM_DESTROY ends the loop,
    // and once its process is reaped the window is gone at once.
    Server closing;
    ASSERT_NE(closing.hwnd, nullptr);
    EXPECT_TRUE(plat::PostMessageA(closing.hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(closing.child->Wait(), 0u);
    ExpectGone(closing.hwnd);
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
        ASSERT_EQ(child.Wait(), 0u);
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
    ExpectGone(server.hwnd);

    // Killed while it handles our message: the send notices and fails.
    Server hung;
    ASSERT_NE(hung.hwnd, nullptr);
    std::thread killer([&] {
        usleep(200000);
        hung.child->Kill();
    });
    EXPECT_EQ(plat::SendMessageA(hung.hwnd, kHang, 0, 0), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    killer.join();
}

TEST(Messages, NestedAndSimultaneousSendsBetweenTwoProcessesComplete) {
    HWND mine = NewServerWindow();
    ASSERT_NE(mine, nullptr);
    {
        // The other side sends back to us while we wait for its answer.
        Server server;
        ASSERT_NE(server.hwnd, nullptr);
        EXPECT_EQ(plat::SendMessageA(server.hwnd, kAskBack, 0, (LPARAM)mine), 1011);
    }
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
    PumpUntil([&] { return server.child->Wait(0) != ~0u; });
    EXPECT_EQ(server.child->Wait(0), 0u) << "the other side's answers were right";
    DestroyAndDrain(mine);
}

// Records what a window receives, in order.
std::vector<std::pair<UINT, LPARAM>> g_journal;
void* g_createParam = nullptr;

LRESULT CALLBACK JournalProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_CREATE) g_createParam = ((CREATESTRUCTA*)l)->lpCreateParams;
    if (msg == kTwiceWPlusL && l == 99) return plat::SendMessageA(hwnd, kTwiceWPlusL, w, 1);
    g_journal.push_back({msg, msg == WM_CREATE ? 0 : l});
    if (msg == kTwiceWPlusL) return (LRESULT)(2 * w) + l;
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

TEST(Windows, CreationMovingDestructionAndClasses) {
    typedef std::vector<std::pair<UINT, LPARAM>> Journal;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = JournalProc;
    wc.lpszClassName = "PlatformTestJournal";
    ASSERT_NE(plat::RegisterClassExA(&wc), 0);
    EXPECT_EQ(plat::RegisterClassExA(&wc), 0);
    EXPECT_EQ(plat::GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(plat::CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                    nullptr),
              nullptr);

    g_journal.clear();
    int param = 0;
    HWND top = plat::CreateWindowExA(0x110, "PlatformTestJournal", "TAVCAM DLL", 0x02CF0000, 0, 0,
                                     600, 200, nullptr, nullptr, nullptr, &param);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(g_createParam, &param);
    EXPECT_EQ(g_journal, (Journal{{WM_CREATE, 0}, {WM_SIZE, 200 << 16 | 600}}));

    HWND edit = plat::CreateWindowExA(0, "edit", "", 0x50A018C4, 0, 0, 0, 0, top, nullptr, nullptr,
                                      nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(plat::MoveWindow(edit, 0, 0, 300, 100, TRUE));
    g_journal.clear();
    EXPECT_TRUE(plat::MoveWindow(top, 0, 0, 640, 480, TRUE));
    EXPECT_EQ(g_journal, (Journal{{WM_SIZE, 480 << 16 | 640}}));

    // A send to a window of the same thread calls the procedure directly,
    // also from inside the procedure.
    EXPECT_EQ(plat::SendMessageA(top, kTwiceWPlusL, 4, 99), 9);

    // WM_CLOSE through the default procedure destroys the window and its child.
    g_journal.clear();
    EXPECT_EQ(plat::SendMessageA(top, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(plat::IsWindow(top));
    EXPECT_FALSE(plat::IsWindow(edit));
    EXPECT_EQ(g_journal, (Journal{{WM_CLOSE, 0}, {WM_DESTROY, 0}}));
    EXPECT_FALSE(plat::DestroyWindow(top));
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(plat::MoveWindow(top, 0, 0, 1, 1, TRUE));
}

// Posted messages arrive in order, WM_QUIT after them, once.
TEST(Windows, MessageLoopOrderQuitAndErrors) {
    HWND w = NewServerWindow();
    ASSERT_NE(w, nullptr);
    MSG msg;
    EXPECT_EQ(plat::GetMessageA(&msg, plat::FieldToWindow(0x7FFFFFF0), 0, 0), -1);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_TRUE(plat::PostMessageA(w, WM_USER + 10, 1, 0));
    EXPECT_TRUE(plat::PostMessageA(w, WM_USER + 11, 2, 0));
    plat::PostQuitMessage(7);
    const struct {
        BOOL result;
        UINT message;
        HWND hwnd;
        WPARAM wParam;
    } expected[] = {{1, WM_USER + 10, w, 1}, {1, WM_USER + 11, w, 2}, {0, WM_QUIT, nullptr, 7}};
    for (const auto& e : expected) {
        EXPECT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), e.result);
        EXPECT_EQ(msg.message, e.message);
        EXPECT_EQ(msg.hwnd, e.hwnd);
        EXPECT_EQ(msg.wParam, e.wParam);
    }
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyAndDrain(w);
}

TEST(Windows, SendFromAnotherThreadIsHandledByTheOwnerWhileItPumps) {
    HWND w = NewServerWindow();
    ASSERT_NE(w, nullptr);
    std::atomic<LRESULT> result{0};
    std::atomic<bool> done{false};
    std::thread t([&] {
        result = plat::SendMessageA(w, kTwiceWPlusL, 3, 4);
        done = true;
    });
    PumpUntil([&] { return done.load(); });
    t.join();
    EXPECT_EQ(result.load(), 10);
    DestroyAndDrain(w);
}

TEST(Windows, TimersArriveThroughTheQueueUntilKilled) {
    HWND w = NewServerWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(plat::SetTimer(w, 1, 20, nullptr), 1u);
    int ticks = 0;
    MSG msg;
    for (uint64_t start = plat::posix::MonotonicMs();
         ticks < 3 && plat::posix::MonotonicMs() - start < 5000;) {
        ASSERT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 1);
        if (msg.message == WM_TIMER && msg.hwnd == w && msg.wParam == 1) ++ticks;
    }
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(plat::KillTimer(w, 1));
    EXPECT_FALSE(plat::KillTimer(w, 1));
    usleep(60000);
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_TRUE(plat::DestroyWindow(w));
}

}  // namespace
}  // namespace platform_test
