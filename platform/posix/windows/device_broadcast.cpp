// WM_DEVICECHANGE for the windows of this process: when an entry of the
// device directory is created or removed (a camera's socket appears or goes
// away), every top-level window of the process gets WM_DEVICECHANGE with
// wParam DBT_DEVNODES_CHANGED (7) and lParam 0 in its thread's queue.
//
// The receiver thread of transport.cpp polls an inotify descriptor watching
// the directory, so a notice is queued as soon as the kernel reports the
// change. A directory that doesn't exist yet (or was removed) is looked for
// again every 250 ms, and its appearance is a change, so the notice comes
// well within one second then too. Should the kernel's event queue overflow
// (a flood of changes), that is a change as well. A notice still waiting in a
// queue is not queued a second time: a burst of changes gives one presence
// poll, which sees them all.
#include <stdio.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "../device_dir.h"
#include "windows_internal.h"

namespace plat::posix::win {
namespace {

constexpr int kMaxWindows = 256;
constexpr uint32_t kWatched =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

// Set up by TransportStart, then used by the receiver thread only.
int g_inotify = -1;
int g_watch = -1;
bool g_missed = false;  // the directory was missing at some look
// A plain array, not a string: the receiver thread still runs while the
// process's static objects are destroyed at exit.
char g_watchedDir[4096];

void Broadcast() {
    uint32_t hwnds[kMaxWindows];
    uint32_t tids[kMaxWindows];
    int n = LocalTopLevel(hwnds, tids, kMaxWindows);
    for (int i = 0; i < n; ++i)
        QueuePost(tids[i], hwnds[i], WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, true);
}

void Watch() {
    if (g_inotify < 0) g_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (g_inotify < 0) return;
    std::string dir = DeviceDirectory();
    if (g_watch >= 0 && dir == g_watchedDir) return;
    if (g_watch >= 0) inotify_rm_watch(g_inotify, g_watch);
    g_watch = inotify_add_watch(g_inotify, dir.c_str(), kWatched | IN_ONLYDIR);
    snprintf(g_watchedDir, sizeof g_watchedDir, "%s", dir.c_str());
    // A directory that appeared since an earlier look may already hold
    // cameras: that is a change. The first look at start is not.
    if (g_watch < 0) {
        g_missed = true;
    } else if (g_missed) {
        g_missed = false;
        Broadcast();
    }
}

}  // namespace

int DeviceWatchFd() {
    if (g_inotify < 0) Watch();
    return g_inotify;
}

void DeviceWatchReadable() {
    alignas(inotify_event) char buf[4096];
    bool changed = false;
    ssize_t n;
    while ((n = read(g_inotify, buf, sizeof buf)) > 0) {
        for (char* p = buf; p < buf + n;) {
            inotify_event* e = (inotify_event*)p;
            if (e->mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_Q_OVERFLOW))
                changed = true;
            // The directory itself went away: look for it again at the next tick.
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (e->wd == g_watch) {
                    if (!(e->mask & IN_IGNORED)) inotify_rm_watch(g_inotify, g_watch);
                    g_watch = -1;
                    g_missed = true;
                }
            }
            p += sizeof(inotify_event) + e->len;
        }
    }
    if (changed) Broadcast();
}

int DeviceWatchPeriodMs() {
    return g_watch < 0 ? 250 : 1000;
}

void DeviceWatchTick() {
    if (g_watch < 0 || DeviceDirectory() != g_watchedDir) Watch();
}

}  // namespace plat::posix::win
