// Live video inside the library: the reader thread that the three start calls
// create, one per camera, and the pieces the start and stop calls share.
#pragma once

#include <stdint.h>

#include "config/device_table.h"
#include "platform/platform.h"

namespace tav {

// The reader thread's body. Its one argument is the camera's ReadParameters,
// filled by the start call before the thread exists. Exit codes:
//   0 stopped on request, or after the last allowed restart failed
//   1 the driver handle did not open
//   5, 6 the first / second internal buffer could not be allocated
//   7 the FIFO reset failed     8 the stream start failed
//   9 the stream stop after a read failure failed (a camera that went away)
// Whatever the code, the reader's last two steps are setting the camera's
// reader-finished event and then releasing the claim (bStopped 1).
DWORD WINAPI AttachReadThread(LPVOID param);

// Restarts a new reader allows after read failures; a run of more than 51
// good transfers since the last (re)start gives it this many again, plus one.
constexpr uint32_t kReaderRestarts = 5;
constexpr uint32_t kGoodRunResetsRestarts = 50;

// How long USBLiveVideoStop lets a reader notice the stop request by itself
// before it stops the camera's stream to end a read that waits for a frame
// which may never come (a trigger that isn't given); and its whole bound.
constexpr DWORD kStopGraceMs = 200;
constexpr DWORD kStopWaitMs = 6000;

}  // namespace tav
