// The monitor's presence poll, its notices and the plug-and-play events, in
// this process: the simulator on a private device directory, the pauses on a
// virtual clock, client windows of this thread (a send to them calls their
// procedure at once) and an event made here in the monitor's place.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/attach.h"
#include "pnp/pnp.h"
#include "platform/posix/handle_table.h"
#include "sim/sim.h"
#include "support/testing.h"
#include "tavcam.h"

namespace {

HWND g_windows[2];
int g_notices[2];
tav::SharedData* g_block = nullptr;
uint32_t g_dropOnNotice = 0;  // a window deregistered while the notices go out

LRESULT CALLBACK ClientProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_CAMERA_CHANGE && w == 0 && l == 0) {
        for (int i = 0; i < 2; ++i)
            if (plat::WindowToField(hwnd) == plat::WindowToField(g_windows[i])) ++g_notices[i];
        if (g_dropOnNotice) tav::ClientListRemove(g_block, g_dropOnNotice);
        return 0;
    }
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

class PresencePoll : public ::testing::Test {
  protected:
    void SetUp() override {
        // Named objects (the window registry) in a namespace of this test
        // process's own, kept for its whole life: other test processes running
        // meanwhile have theirs.
        static testing_support::TempDir runtime;
        setenv("TAVCAM_RUNTIME_DIR", runtime.path.c_str(), 0);
        setenv("TAVCAM_DEVICE_DIR", dir_.path.c_str(), 1);
        tav::UsePrivateSharedData();
        d_ = g_block = tav::Shared();
        server_ = sim::Start(dir_.path);
        ASSERT_NE(server_, nullptr);
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = ClientProc;
            wc.lpszClassName = "PresencePollClient";
            registered = plat::RegisterClassExA(&wc) != 0;
        }
        for (int i = 0; i < 2; ++i) {
            // Message-only: no device-change broadcast reaches them.
            g_windows[i] = plat::CreateWindowExA(0, "PresencePollClient", "", 0, 0, 0, 1, 1,
                                                 HWND_MESSAGE, nullptr, nullptr, nullptr);
            ASSERT_NE(g_windows[i], nullptr);
            tav::ClientListAdd(d_, plat::WindowToField(g_windows[i]));
            g_notices[i] = 0;
        }
        g_dropOnNotice = 0;
        event_ = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        d_->dwProcessIds[1] = 4242;
        d_->hPnPEvents[1] = plat::HandleToField(event_);
    }
    void TearDown() override {
        d_->hPnPEvents[1] = 0;
        plat::CloseHandle(event_);
        for (HWND& w : g_windows) {
            if (w) plat::DestroyWindow(w);
            w = nullptr;
        }
        sim::Stop(server_);
        unsetenv("TAVCAM_DEVICE_DIR");
    }

    int Plug(int index) {
        std::string socket = "cam" + std::to_string(index) + ".sock";
        return sim::Plug(server_, sim::MakeProfile(sim::Model::LongLayout, "Cam", socket));
    }
    // Runs one poll, keeping the traces and pauses of that poll alone.
    void Poll() {
        traces_.Clear();
        clock_.Clear();
        tav::PresencePoll(d_);
    }
    int Traced(const std::string& text) {
        auto lines = traces_.Lines();
        return (int)std::count(lines.begin(), lines.end(), text);
    }
    bool EventSet() { return plat::WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }
    // The presence or changed flags of the eight cameras, as "10000000".
    static std::string Flags(const uint32_t* f) {
        std::string s;
        for (int i = 0; i < 8; ++i) s += f[i] ? '1' : '0';
        return s;
    }

    testing_support::TempDir dir_;
    testing_support::VirtualClock clock_;
    testing_support::TraceLog traces_;
    sim::Server* server_ = nullptr;
    tav::SharedData* d_ = nullptr;
    HANDLE event_ = nullptr;
};

// Plugging, unplugging and polls with nothing new, one after the other: each
// poll settles for 500 ms, reads each camera that opens (100 ms each) and
// notifies once per camera whose presence changed.
TEST_F(PresencePoll, NotifiesOncePerChangedCameraInIndexOrder) {
    d_->bChanged[0] = d_->bChanged[1] = 0;  // so that the poll's marks show
    struct Step {
        const char* what;
        std::vector<int> plug, unplug;  // before the poll
        int notices;                    // per window, and signals of the event
        const char *presence, *changed;
        std::vector<uint32_t> pauses;
    } steps[] = {
        {"no camera", {}, {}, 0, "00000000", "00000000", {500}},
        {"camera 0 arrives", {0}, {}, 1, "10000000", "10000000", {500, 100}},
        {"nothing new", {}, {}, 0, "10000000", "10000000", {500, 100}},
        {"two arrive in one poll", {1, 2}, {}, 2, "11100000", "11100000", {500, 100, 100, 100}},
        {"camera 2 leaves", {}, {2}, 1, "11000000", "11100000", {500, 100, 100}},
    };
    int cameras[8] = {};
    int total = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        for (int i : step.plug) cameras[i] = Plug(i);
        for (int i : step.unplug) sim::Unplug(server_, cameras[i]);
        Poll();
        total += step.notices;
        EXPECT_EQ(g_notices[0], total);
        EXPECT_EQ(g_notices[1], total);
        EXPECT_EQ(Traced("NotifyClients set PnP Event, Process = 4242\r\n"), step.notices);
        EXPECT_EQ(EventSet(), step.notices > 0);
        EXPECT_EQ(Flags(d_->bPresence), step.presence);
        EXPECT_EQ(Flags(d_->bChanged), step.changed);
        EXPECT_EQ(clock_.Pauses(), step.pauses);
        EXPECT_EQ(Traced("Notify Device Change \r\n"), step.notices);
        EXPECT_EQ(Traced("Notify Device Change to hWND = " +
                         std::to_string((int)plat::WindowToField(g_windows[0])) + " \r\n"),
                  step.notices);
        int present = (int)std::count(step.presence, step.presence + 8, '1');
        EXPECT_EQ(Traced("USB Camera has arrived \r\n"), present);
        EXPECT_EQ(Traced("USB Camera has switched off \r\n"), 8 - present);
        EXPECT_EQ(Traced("DBT_DEVNODES_CHANGED\r\n"), 1);
    }
    EXPECT_EQ(Traced("SharedData->bPresence[2] = 1 \r\n"), 1) << "the flag as it was found";
}

// The probe is an I2C read of register 1 at the controller's address 122: the
// request, its pause and the reply fetch.
TEST_F(PresencePoll, ProbesEachCameraWithAnI2CReadOfRegister1At122) {
    int camera = Plug(0);
    Poll();
    auto log = sim::Log(server_, camera);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].code, 0x222050u);
    EXPECT_EQ(log[0].input, (std::vector<uint8_t>{0, 0, 0, 0, 3, 0, 0, 0, 122, 9, 1}));
    EXPECT_EQ(log[1].code, 0x22204Cu);
    EXPECT_EQ(log[1].input, (std::vector<uint8_t>{1, 0, 0, 0, 64, 0, 0, 0}));
}

// A window deregistered while the notices of a poll go out (the monitor
// answers registrations while its sends wait) gets none of them.
TEST_F(PresencePoll, WindowDeregisteredDuringTheNoticesIsSkipped) {
    g_dropOnNotice = plat::WindowToField(g_windows[1]);
    Plug(0);
    Poll();
    EXPECT_EQ(g_notices[0], 1);
    EXPECT_EQ(g_notices[1], 0);
    EXPECT_EQ(d_->nClients, 1u);
}

// Arrival and removal notices of the system change nothing: they are traced.
TEST_F(PresencePoll, ArrivalAndRemovalBroadcastsAreOnlyTraced) {
    Plug(0);
    struct {
        WPARAM event;
        const char* trace;
    } cases[] = {{DBT_DEVICEARRIVAL, "DBT_DEVICEARRIVAL\r\n"},
                 {DBT_DEVICEREMOVECOMPLETE, "DBT_DEVICEREMOVECOMPLETE\r\n"}};
    for (const auto& c : cases) {
        traces_.Clear();
        clock_.Clear();
        EXPECT_EQ(tav::MonitorWindowProc(g_windows[0], WM_DEVICECHANGE, c.event, 0), 0);
        EXPECT_EQ(traces_.Lines(), std::vector<std::string>{c.trace});
        EXPECT_TRUE(clock_.Pauses().empty());
    }
    EXPECT_EQ(Flags(d_->bPresence), "00000000");
    EXPECT_EQ(g_notices[0], 0);
}

// The monitor makes the event of a process in every slot holding its id,
// named after it, not signalled; again for a process that registers anew,
// without keeping the earlier handle; nothing for an id in no slot.
TEST_F(PresencePoll, CallbackRegistrationMakesTheNamedEventOfEachSlotOfTheProcess) {
    d_->hPnPEvents[1] = 0;
    uint32_t ids[4] = {1234, 222, 1234, 0};
    for (int i = 0; i < 4; ++i) d_->dwProcessIds[i] = ids[i];
    traces_.Clear();
    tav::InternalRegisterCallBack(d_, 1234);
    EXPECT_NE(d_->hPnPEvents[0], 0u);
    EXPECT_EQ(d_->hPnPEvents[1], 0u);
    EXPECT_NE(d_->hPnPEvents[2], 0u);
    EXPECT_EQ(traces_.Lines(), (std::vector<std::string>{"Enter InternalRegisterCallBack \r\n",
                                                         "InternalRegisterCallBack: szEventName = "
                                                         "PNPFunctionUSBEvent_Process-1234_\n",
                                                         "InternalRegisterCallBack: szEventName = "
                                                         "PNPFunctionUSBEvent_Process-1234_\n"}));
    HANDLE opened = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, "PNPFunctionUSBEvent_Process-1234_");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(opened, 0), (DWORD)WAIT_TIMEOUT);
    // Auto-reset: one wait takes one signal.
    plat::SetEvent(plat::FieldToHandle(d_->hPnPEvents[0]));
    EXPECT_EQ(plat::WaitForSingleObject(opened, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(opened, 0), (DWORD)WAIT_TIMEOUT);

    int handles = plat::posix::HandleCount();
    tav::InternalRegisterCallBack(d_, 1234);
    EXPECT_EQ(plat::posix::HandleCount(), handles) << "the slots' earlier handles are closed";
    tav::InternalRegisterCallBack(d_, 999);
    EXPECT_EQ(d_->hPnPEvents[1], 0u);
    EXPECT_EQ(d_->hPnPEvents[3], 0u);
    for (int slot = 0; slot < 4; ++slot) tav::ForgetPnPEvent(d_, slot);
    EXPECT_EQ(plat::posix::HandleCount(), handles - 2);
    plat::CloseHandle(opened);
}

}  // namespace
