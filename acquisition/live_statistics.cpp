// The live-video counters and USBGetLiveVideoStatistics.
#include "acquisition/live_statistics.h"

#include "config/device_table.h"
#include "core/attach.h"
#include "device/device.h"
#include "tavcam.h"

namespace tav {
namespace {

uint32_t g_counts[kMaxCameras][(int)LiveCount::Count];

}  // namespace

void ResetLiveCounts(int index) {
    for (uint32_t& c : g_counts[index]) __atomic_store_n(&c, 0u, __ATOMIC_RELAXED);
}

void AddLiveCount(int index, LiveCount which) {
    __atomic_fetch_add(&g_counts[index][(int)which], 1u, __ATOMIC_RELAXED);
}

uint32_t LiveCountOf(int index, LiveCount which) {
    return __atomic_load_n(&g_counts[index][(int)which], __ATOMIC_RELAXED);
}

}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBGetLiveVideoStatistics(const char* pCameraName,
                                                               LiveVideoStatistics* pStatistics) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return TAVCAM_BAD_NAME;
    if (!pStatistics || plat::IsBadWritePtr(pStatistics, sizeof *pStatistics)) return 0;
    const ReadParameters& rp = g_DeviceTable[index].ReadParameters;
    pStatistics->nTransfers = LiveCountOf(index, LiveCount::Transfers);
    pStatistics->nFramesDelivered = LiveCountOf(index, LiveCount::Delivered);
    pStatistics->nDroppedSize = LiveCountOf(index, LiveCount::DroppedSize);
    pStatistics->nDroppedMarkers = LiveCountOf(index, LiveCount::DroppedMarkers);
    pStatistics->nNoRoom = LiveCountOf(index, LiveCount::NoRoom);
    pStatistics->nRestarts = LiveCountOf(index, LiveCount::Restarts);
    pStatistics->nReadFailures = LiveCountOf(index, LiveCount::ReadFailures);
    pStatistics->bRunning = ClaimKindOf(rp) == kClaimReader && !CameraIdle(rp) ? 1 : 0;
    return TAVCAM_OK;
}
