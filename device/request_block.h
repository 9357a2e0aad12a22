// The request block: what IOCTL_CAM_SEND_REQUEST carries to the camera's
// controller and, as a bare header, what IOCTL_CAM_READ_REPLY carries.
//
//   bytes 0-3   direction: 0 = request to the camera, 1 = fetch the reply
//   bytes 4-7   length: payload bytes from byte 8 on (64 for a reply fetch)
//   byte  8     target: I2C device address, flash page or table number
//   byte  9     vendor command code
//   bytes 10..  parameters; 16-bit parameters travel high byte first
//
// The header words are little-endian whatever the host's byte order, so the
// block is assembled byte by byte.
//
// Every request is built in a block of its own, on the stack of the call that
// sends it: two application threads talking to cameras at the same time can
// never mix their bytes, and no lock is needed around a request.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tav {

constexpr uint32_t kRequestHeaderBytes = 8;
constexpr uint32_t kRequestPayloadBytes = 64;
constexpr uint32_t kRequestBlockBytes = kRequestHeaderBytes + kRequestPayloadBytes;
constexpr uint32_t kReplyBytes = 64;

constexpr uint32_t kDirectionRequest = 0;
constexpr uint32_t kDirectionReply = 1;

// Byte offsets inside the block.
constexpr size_t kDirectionAt = 0;
constexpr size_t kLengthAt = 4;
constexpr size_t kTargetAt = 8;
constexpr size_t kCodeAt = 9;
constexpr size_t kParametersAt = 10;

struct RequestBlock {
    uint8_t bytes[kRequestBlockBytes];
};
static_assert(sizeof(RequestBlock) == 72, "a request block is 8 header + 64 payload bytes");
static_assert(kParametersAt == kRequestHeaderBytes + 2, "parameters follow target and code");

// Clears the block and writes the header (direction 0, length) and the first
// two payload bytes (target, code). Parameters start zero.
void BeginRequest(RequestBlock* block, uint32_t length, uint8_t target, uint8_t code);

// Clears the block and writes the 8-byte header of a reply fetch
// (direction 1, length 64).
void BeginReplyFetch(RequestBlock* block);

// A one-byte parameter at byte `at` of the block.
inline void PutByte(RequestBlock* block, size_t at, uint32_t value) {
    block->bytes[at] = (uint8_t)(value & 0xFF);
}

// A 16-bit parameter at byte `at` of the block, high byte first (the low 16
// bits of value).
inline void PutWord(RequestBlock* block, size_t at, uint32_t value) {
    block->bytes[at] = (uint8_t)((value >> 8) & 0xFF);
    block->bytes[at + 1] = (uint8_t)(value & 0xFF);
}

// Reply words: the controller answers status words high byte first and the
// register query's two results as little-endian 32-bit words.
inline uint32_t BigEndian16(const uint8_t* p) {
    return (uint32_t)p[0] << 8 | p[1];
}
inline uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
inline uint32_t LittleEndian32(const uint8_t* p) {
    return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

// Sends one request without answer to the camera of a device index and waits
// the command pause (also after a failure: the controller may still be busy
// with it). 1 when the camera took the request; 0 when it didn't or the
// camera can't be opened.
int32_t SendCommandRequest(int index, const RequestBlock& block, uint32_t inputSize);

}  // namespace tav
