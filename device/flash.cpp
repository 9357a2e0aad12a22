// Page-wise access to the camera's flash store: page 0 holds the camera
// record, page 1 the saved presets, page 2 is accepted but unused. Reads move
// 64 bytes per request, writes 51.
#include <string.h>

#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "device/request_block.h"
#include "tavcam.h"

namespace tav {
namespace {

constexpr uint32_t kHighestPage = 2;
constexpr uint32_t kReadPiece = 64;
constexpr uint32_t kWritePiece = 51;
constexpr uint32_t kFlashStatusFailed = 0x20;

// The controller answers the status poll with the page number once it is
// ready to take the page's data. Nothing in the camera protocol bounds that
// wait; we give up after this many polls (100 polls of 50 ms, five seconds,
// far beyond the few polls an erase takes) and fail the write with 0.
constexpr int kMaxFlashStatusPolls = 100;

bool TransferArgumentsValid(uint32_t page, uint32_t size, const void* data) {
    return page <= kHighestPage && size != 0 && size <= TAVCAM_FLASH_MAX_BYTES && data;
}

// Polls the flash status until the controller reports `page`. False when a
// poll fails, the status reports a failed write (bit 0x20) or the bound runs out.
bool WaitFlashReady(HANDLE camera, uint8_t page) {
    for (int poll = 0; poll < kMaxFlashStatusPolls; ++poll) {
        RequestBlock block;
        BeginRequest(&block, 8, page, CMD_FLASH_STATUS);
        // A poll whose request or reply fails tells nothing about the flash:
        // we end the write rather than read a zero reply as "page 0 ready".
        if (!SendRequest(camera, block.bytes, 16)) return false;
        plat::Sleep(kFlashWritePauseMs);
        uint8_t reply[kReplyBytes];
        if (!FetchReply(camera, reply)) return false;
        uint32_t status = BigEndian16(reply);
        if (status & kFlashStatusFailed) return false;
        if (status == page) return true;
    }
    return false;
}

// One CMD_FLASH_WRITE of `count` (0..51) bytes at `offset`.
bool SendFlashPiece(HANDLE camera, uint8_t page, uint32_t offset, const uint8_t* data,
                    uint32_t count) {
    RequestBlock block;
    BeginRequest(&block, count + 5, page, CMD_FLASH_WRITE);
    PutWord(&block, kParametersAt, offset);
    PutByte(&block, kParametersAt + 2, count);
    memcpy(block.bytes + kParametersAt + 3, data, count);
    bool ok = SendRequest(camera, block.bytes, count + 13);
    return ok;
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI ReadDataFromFlash(int32_t nDevice, uint32_t nPage, uint32_t nSize,
                                            void* pDestination) {
    if (!LibraryUsable()) return 0;
    uint8_t page = (uint8_t)nPage;
    uint32_t size = nSize & 0xFFFF;
    if (!TransferArgumentsValid(page, size, pDestination)) return 0;
    if (plat::IsBadWritePtr(pDestination, size)) return 0;
    uint32_t rounded = (size + kReadPiece - 1) / kReadPiece * kReadPiece;
    HANDLE camera = OpenCamera(DeviceIndexFromArgument(nDevice));
    if (!CameraOpened(camera)) return 0;
    auto* buffer = (uint8_t*)plat::LocalAlloc(LPTR, rounded);
    if (!buffer) {
        // At most 16896 bytes: no test can make such an allocation fail short
        // of exhausting the process; the clean-up is that of a failed read.
        plat::CloseHandle(camera);
        return 0;
    }
    bool ok = true;
    for (uint32_t offset = 0; ok && offset < rounded; offset += kReadPiece) {
        RequestBlock block;
        BeginRequest(&block, 8, page, CMD_FLASH_READ);
        PutWord(&block, kParametersAt, offset);
        PutByte(&block, kParametersAt + 2, kReadPiece);
        ok = SendRequest(camera, block.bytes, 16);
        if (!ok) break;
        plat::Sleep(kFlashReadPauseMs);
        ok = FetchReply(camera, buffer + offset);
    }
    if (ok) memcpy(pDestination, buffer, size);
    plat::CloseHandle(camera);
    plat::LocalFree(buffer);
    return ok ? 1 : 0;
}

TAVCAM_API int32_t WINAPI WriteDataToFlash(int32_t nDevice, uint32_t nPage, uint32_t nSize,
                                           const void* pData) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the WriteDataToFlash \r\n");
    uint8_t page = (uint8_t)nPage;
    uint32_t size = nSize & 0xFFFF;
    if (!TransferArgumentsValid(page, size, pData)) return 0;
    if (plat::IsBadReadPtr(pData, size)) return 0;
    const auto* data = (const uint8_t*)pData;
    HANDLE camera = OpenCamera(DeviceIndexFromArgument(nDevice));
    if (!CameraOpened(camera)) return 0;

    RequestBlock begin;
    BeginRequest(&begin, 8, page, CMD_FLASH_BEGIN);
    if (!SendRequest(camera, begin.bytes, 16)) {
        plat::CloseHandle(camera);
        return 0;
    }
    plat::Sleep(kFlashBeginPauseMs);
    if (!WaitFlashReady(camera, page)) {
        plat::CloseHandle(camera);
        return 0;
    }

    uint32_t whole = size / kWritePiece;
    for (uint32_t k = 0; k < whole; ++k) {
        bool ok =
            SendFlashPiece(camera, page, kWritePiece * k, data + kWritePiece * k, kWritePiece);
        plat::Sleep(kFlashWritePauseMs);
        if (!ok) {
            plat::CloseHandle(camera);
            return 0;
        }
    }
    // The final piece is always sent; when the size is a multiple of 51 it
    // carries a count of 0, which tells the controller the page is complete.
    uint32_t rest = size % kWritePiece;
    bool ok = SendFlashPiece(camera, page, kWritePiece * whole, data + kWritePiece * whole, rest);
    plat::CloseHandle(camera);
    plat::Sleep(kFlashWritePauseMs);
    return ok ? 1 : 0;
}

}  // extern "C"
