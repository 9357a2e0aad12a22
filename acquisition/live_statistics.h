// Counts of what the live-video reader of each camera did since its start:
// what an application (and the tavcam program) shows as a stream's health.
// The reader counts; any thread reads (relaxed atomics: each count is exact,
// a read of several is not a snapshot of one moment).
#pragma once

#include <stdint.h>

namespace tav {

enum class LiveCount : uint8_t {
    Transfers,       // good transfers read
    Delivered,       // frames announced
    DroppedSize,     // transfers of the wrong size
    DroppedMarkers,  // transfers with a wrong start or end marker
    NoRoom,          // frames not delivered: the picture (or colour table) can't be used
    Restarts,        // stream restarts after failed reads
    ReadFailures,    // failed reads
    Count
};

void ResetLiveCounts(int index);
void AddLiveCount(int index, LiveCount which);
uint32_t LiveCountOf(int index, LiveCount which);

}  // namespace tav
