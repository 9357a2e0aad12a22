// Placeholder until the attach logic lands.
#include "core/attach.h"

namespace tav {
namespace {
SharedData g_private;
SharedData* g_shared = nullptr;
HANDLE g_readerEvents[kMaxCameras];
}  // namespace

SharedData* Shared() { return g_shared; }
bool ProcessAttach(HMODULE) { return true; }
void ProcessDetach() {}
bool LibraryUsable() { return true; }
HANDLE ReaderEvent(int camera) { return camera >= 0 && camera < kMaxCameras ? g_readerEvents[camera] : nullptr; }
void SetReaderEvent(int camera, HANDLE event) { if (camera >= 0 && camera < kMaxCameras) g_readerEvents[camera] = event; }
uint32_t OwnProcessId() { return 0; }
void UsePrivateSharedData() {
    g_private = SharedData{};
    g_private.bChanged[0] = g_private.bChanged[1] = 1;
    g_shared = &g_private;
}
}  // namespace tav
