// USBSendTable: uploads one of the caller's lookup tables to the camera, as a
// CMD_LOAD_TABLE announcement followed by the table in 64-byte data requests.
#include <string.h>

#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "device/request_block.h"

namespace tav {
namespace {

// The camera's controller needs this pause after the announcement and after
// every piece of the table.
constexpr DWORD kTablePauseMs = 50;
constexpr uint32_t kTablePieceBytes = 64;

// Tables 3 and 100 are accepted in every format; the others are colour tables.
bool AlwaysAccepted(uint8_t table) {
    return table == 3 || table == 100;
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBSendTable(const char* pCameraName, uint32_t nTable,
                                                  uint32_t nSize, const void* pTable) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    const uint8_t table = (uint8_t)(nTable & 0xFF);  // the table number is a byte
    const uint32_t size = nSize & 0xFFFF;            // and the size 16 bits
    // Only the caller's size bytes are read; a short final piece is padded
    // with zeros instead of reading past the end of the table.
    if (size != 0 && (!pTable || plat::IsBadReadPtr(pTable, size))) return 0;

    HANDLE camera = OpenCamera(index);
    if (!CameraOpened(camera)) return 0;

    if (!AlwaysAccepted(table)) {
        const DeviceSlot& slot = g_DeviceTable[index];
        const FormatEntry* entry = CurrentFormatEntry(slot);
        if (!entry || entry->OutBits == 8) {
            Trace("Sending Colour Table Canceled - camera does not support colour mode\r\n");
            plat::CloseHandle(camera);
            return 0;
        }
        if (slot.Record.FeatureInq[kInqColour] & kInqFlag29) {
            Trace(
                "Sending colour table is canceled, we send the colour register's value "
                "instead \r\n");
            plat::CloseHandle(camera);
            return 0;
        }
    }

    RequestBlock block;
    BeginRequest(&block, 5, table, CMD_LOAD_TABLE);
    PutByte(&block, kParametersAt, table);
    PutByte(&block, kParametersAt + 1, 0xFF);
    PutByte(&block, kParametersAt + 2, 0xFF);
    bool ok = SendRequest(camera, block.bytes, kRequestHeaderBytes + 5);
    if (!ok) {
        plat::CloseHandle(camera);
        return 0;
    }
    plat::Sleep(kTablePauseMs);

    // Data requests carry no target or code: direction 0, length 64 and the
    // 64 table bytes at bytes 8-71. A failed piece doesn't stop the upload;
    // the result is the last request's.
    const uint8_t* bytes = static_cast<const uint8_t*>(pTable);
    for (uint32_t offset = 0; offset < size; offset += kTablePieceBytes) {
        memset(&block, 0, sizeof block);
        block.bytes[kLengthAt] = (uint8_t)kTablePieceBytes;
        uint32_t n = size - offset < kTablePieceBytes ? size - offset : kTablePieceBytes;
        memcpy(block.bytes + kRequestHeaderBytes, bytes + offset, n);
        ok = SendRequest(camera, block.bytes, kRequestBlockBytes);
        plat::Sleep(kTablePauseMs);
    }
    plat::CloseHandle(camera);
    return ok ? 1 : 0;
}
