// The camera's controller and firmware behind the driver: what each driver
// request and vendor command does.
//
// Choices of this simulated camera, which tests rely on:
// - The answer to a query (fetched with IOCTL_CAM_READ_REPLY) and the state
//   of a table upload belong to the open handle, as a driver keeps them per
//   file object, so the monitor's presence probe on one handle never spoils a
//   flash read on another. A fetch with no query before it answers 64 zeros.
// - CMD_READ_REG answers the register's value as word 0 and the third word of
//   the CMD_WRITE_REG that set it as word 1 (both little-endian 32-bit).
// - Every I2C address answers. Each (address, register) holds two data bytes;
//   CMD_I2C_WRITE sets both, CMD_I2C_WRITE_BYTE sets the first (the one a read
//   returns first), CMD_I2C_READ answers both, high byte first.
// - Flash writes: CMD_FLASH_BEGIN starts a write of the page into an erased
//   (0xFF) copy; CMD_FLASH_STATUS answers busy (0x0080) for the profile's
//   flashBusyPolls polls, then the page number; CMD_FLASH_WRITE is accepted
//   only after the status has answered ready and puts its bytes into the
//   copy. The write that carries fewer than 51 bytes (the final one, count 0
//   when the size is a multiple of 51) commits the copy: the whole page is
//   replaced at that moment, and the state file with it. A sequence cut short
//   leaves the page as it was. An injected write error answers status 0x0020
//   and abandons the sequence.
// - After CMD_LOAD_TABLE every request of length 64 on that handle is a data
//   request appended to the table; the first request of another length ends
//   the upload and is handled as the command it is.
#include <string.h>

#include <algorithm>

#include "sim/internal.h"

namespace sim {
namespace {

constexpr uint32_t kFlashWriteChunk = 51;
constexpr uint16_t kStatusBusy = 0x0080;
constexpr uint16_t kStatusWriteError = 0x0020;

Reply Ok() {
    Reply r;
    r.ok = true;
    return r;
}

void SetAnswer(ConnectionState* conn, const uint8_t* bytes, size_t n) {
    memset(conn->reply, 0, sizeof(conn->reply));
    memcpy(conn->reply, bytes, std::min(n, sizeof(conn->reply)));
}

Reply FlashStatus(Camera* cam, ConnectionState* conn, uint8_t page) {
    uint16_t status = page;
    if (TakeFault(cam, Fault::FlashWriteError, 0)) {
        status = kStatusWriteError;
        cam->flash = FlashSession{};
    } else if (cam->flash.active && cam->flash.page == page) {
        if (cam->flash.busyPollsLeft > 0) {
            --cam->flash.busyPollsLeft;
            status = kStatusBusy;
        } else {
            cam->flash.ready = true;
        }
    }
    uint8_t answer[2] = {(uint8_t)(status >> 8), (uint8_t)status};
    SetAnswer(conn, answer, 2);
    return Ok();
}

Reply FlashWrite(Camera* cam, const uint8_t* p, uint32_t length) {
    // p: target, code, offset (2), count, data
    if (length < 5) return Fail(kErrInvalidParameter);
    const uint8_t page = p[0];
    const uint32_t offset = GetBE16(p + 2);
    const uint32_t count = p[4];
    FlashSession& s = cam->flash;
    if (!s.active || !s.ready || s.page != page) return Fail(kErrGenFailure);
    if (count > kFlashWriteChunk || length < 5 + count || offset + count > kFlashPageBytes) {
        s = FlashSession{};
        return Fail(kErrInvalidParameter);
    }
    memcpy(s.pending.data() + offset, p + 5, count);
    if (count < kFlashWriteChunk) {
        cam->pages[page] = std::move(s.pending);
        s = FlashSession{};
        PersistPages(cam);
    }
    return Ok();
}

Reply Command(Camera* cam, ConnectionState* conn, const uint8_t* p, uint32_t length) {
    // p points at byte 8 of the request block: target, code, parameters.
    if (length < 2) return Fail(kErrInvalidParameter);
    const uint8_t target = p[0];
    const uint8_t code = p[1];
    switch (code) {
        case 0:  // CMD_FLASH_STATUS
            if (target >= kPages) return Fail(kErrInvalidParameter);
            return FlashStatus(cam, conn, target);
        case 1:  // CMD_FLASH_BEGIN
            if (target >= kPages) return Fail(kErrInvalidParameter);
            cam->flash = FlashSession{};
            cam->flash.active = true;
            cam->flash.page = target;
            cam->flash.busyPollsLeft = cam->profile.flashBusyPolls;
            cam->flash.pending.assign(kFlashPageBytes, 0xFF);
            return Ok();
        case 2:  // CMD_FLASH_WRITE
            return FlashWrite(cam, p, length);
        case 3: {  // CMD_FLASH_READ
            if (target >= kPages || length < 5) return Fail(kErrInvalidParameter);
            const uint32_t offset = GetBE16(p + 2);
            uint8_t answer[kReplyBytes];
            memset(answer, 0xFF, sizeof(answer));
            const std::vector<uint8_t>& page = cam->pages[target];
            for (uint32_t i = 0; i < kReplyBytes && offset + i < page.size(); ++i)
                answer[i] = page[offset + i];
            SetAnswer(conn, answer, sizeof(answer));
            return Ok();
        }
        case 5:  // CMD_FIFO_RESET
            if (length < 3) return Fail(kErrInvalidParameter);
            ++cam->fifoResets[p[2] ? 1 : 0];
            return Ok();
        case 6:  // CMD_LOAD_TABLE
            if (length < 3) return Fail(kErrInvalidParameter);
            cam->tables[target].clear();
            conn->tableLoading = target;
            return Ok();
        case 7:  // CMD_I2C_WRITE
            if (length < 5) return Fail(kErrInvalidParameter);
            cam->i2c[(uint16_t)(target << 8 | p[2])] = (uint16_t)(p[3] << 8 | p[4]);
            return Ok();
        case 8: {  // CMD_WRITE_REG
            if (length < 8) return Fail(kErrInvalidParameter);
            RegValue& r = cam->registers[GetBE16(p + 2)];
            r.value = GetBE16(p + 4);
            r.third = GetBE16(p + 6);
            return Ok();
        }
        case 9: {  // CMD_I2C_READ
            if (length < 3) return Fail(kErrInvalidParameter);
            auto it = cam->i2c.find((uint16_t)(target << 8 | p[2]));
            uint16_t v = it == cam->i2c.end() ? 0 : it->second;
            uint8_t answer[2] = {(uint8_t)(v >> 8), (uint8_t)v};
            SetAnswer(conn, answer, 2);
            return Ok();
        }
        case 10: {  // CMD_I2C_WRITE_BYTE
            if (length < 4) return Fail(kErrInvalidParameter);
            uint16_t& v = cam->i2c[(uint16_t)(target << 8 | p[2])];
            v = (uint16_t)(p[3] << 8 | (v & 0xFF));
            return Ok();
        }
        case 11: {  // CMD_READ_ID
            if (length < 4) return Fail(kErrInvalidParameter);
            const uint32_t offset = GetBE16(p + 2);
            uint8_t answer[kReplyBytes] = {};
            const std::vector<uint8_t>& id = cam->profile.identification;
            for (uint32_t i = 0; i < kReplyBytes && offset + i < id.size(); ++i)
                answer[i] = id[offset + i];
            SetAnswer(conn, answer, sizeof(answer));
            return Ok();
        }
        case 12: {  // CMD_READ_REG (length 3: the register's low byte is past it, yet sent)
            if (length < 3) return Fail(kErrInvalidParameter);
            auto it = cam->registers.find(GetBE16(p + 2));
            RegValue r = it == cam->registers.end() ? RegValue{} : it->second;
            uint8_t answer[8];
            PutLE32(answer, r.value);
            PutLE32(answer + 4, r.third);
            SetAnswer(conn, answer, sizeof(answer));
            return Ok();
        }
        case 18:  // CMD_SET_ONOFF
            if (length < 8) return Fail(kErrInvalidParameter);
            cam->onOff[GetBE16(p + 2)] = GetBE16(p + 4);
            return Ok();
        case 28:  // CMD_SET_AUTO
            if (length < 8) return Fail(kErrInvalidParameter);
            cam->autoFeature[GetBE16(p + 2)] = GetBE16(p + 4);
            return Ok();
        case 100: {  // CMD_GET_STATUS
            const uint32_t s = cam->busyStatus;
            uint8_t answer[4] = {(uint8_t)(s >> 24), (uint8_t)(s >> 16), (uint8_t)(s >> 8),
                                 (uint8_t)s};
            SetAnswer(conn, answer, 4);
            return Ok();
        }
        default:
            return Fail(kErrGenFailure);
    }
}

Reply SendRequest(Camera* cam, ConnectionState* conn, const std::vector<uint8_t>& in) {
    if (in.size() < 8 || GetLE32(in.data()) != 0) return Fail(kErrInvalidParameter);
    const uint32_t length = GetLE32(in.data() + 4);
    // The header's length must be covered by the input (CMD_READ_REG sends
    // one byte more than its length says).
    if (length > in.size() - 8) return Fail(kErrInvalidParameter);
    if (conn->tableLoading >= 0) {
        if (length == kReplyBytes) {
            std::vector<uint8_t>& table = cam->tables[(uint8_t)conn->tableLoading];
            table.insert(table.end(), in.begin() + 8, in.begin() + 8 + kReplyBytes);
            return Ok();
        }
        conn->tableLoading = -1;
    }
    return Command(cam, conn, in.data() + 8, length);
}

Reply ReadReply(ConnectionState* conn, const std::vector<uint8_t>& in, uint32_t outCapacity) {
    if (in.size() < 8 || GetLE32(in.data()) != 1) return Fail(kErrInvalidParameter);
    if (outCapacity < kReplyBytes) return Fail(kErrInsufficientBuffer);
    Reply r = Ok();
    r.data.assign(conn->reply, conn->reply + kReplyBytes);
    return r;
}

}  // namespace

bool TakeAnswerAway(Camera* cam, uint32_t code, Reply* reply) {
    if (TakeFault(cam, Fault::Unplug, code)) {
        DisconnectLocked(cam);
        reply->drop = true;
        return true;
    }
    if (TakeFault(cam, Fault::DropConnection, code)) {
        reply->drop = true;
        return true;
    }
    if (TakeFault(cam, Fault::NoAnswer, code)) {
        reply->silent = true;
        return true;
    }
    return false;
}

bool TakeFault(Camera* cam, Fault fault, uint32_t code) {
    for (FaultEntry& f : cam->faults) {
        if (f.fault == fault && f.remaining > 0 && (f.code == 0 || f.code == code)) {
            if (f.skip > 0) {
                --f.skip;
                continue;
            }
            --f.remaining;
            return true;
        }
    }
    return false;
}

void ResetController(Camera* cam) {
    cam->registers.clear();
    cam->onOff.clear();
    cam->autoFeature.clear();
    cam->i2c.clear();
    cam->flash = FlashSession{};
    cam->stream.running = false;
    ++cam->stream.generation;
}

Reply HandleRequest(Camera* cam, ConnectionState* conn, uint32_t code,
                    const std::vector<uint8_t>& input, uint32_t outCapacity) {
    if (code == kReadStream) return ReadStream(cam, outCapacity);  // takes the lock itself
    std::lock_guard<std::mutex> guard(cam->mu);
    Reply none;
    if (TakeAnswerAway(cam, code, &none)) return none;
    if (TakeFault(cam, Fault::FailRequest, code)) return Fail(kErrGenFailure);
    switch (code) {
        case kSendRequest:
            return SendRequest(cam, conn, input);
        case kReadReply: {
            Reply r = ReadReply(conn, input, outCapacity);
            if (r.ok && TakeFault(cam, Fault::ShortReply, code)) r.data.resize(2);
            return r;
        }
        case kStartStream:
            return StartStream(cam, input);
        case kStopStream:
            return StopStream(cam);
        default:
            return Fail(kErrInvalidFunction);
    }
}

}  // namespace sim
