#include "device/request_block.h"

#include <string.h>

namespace tav {
namespace {

void PutLittleEndian32(uint8_t* p, uint32_t value) {
    p[0] = (uint8_t)(value & 0xFF);
    p[1] = (uint8_t)((value >> 8) & 0xFF);
    p[2] = (uint8_t)((value >> 16) & 0xFF);
    p[3] = (uint8_t)((value >> 24) & 0xFF);
}

}  // namespace

void BeginRequest(RequestBlock* block, uint32_t length, uint8_t target, uint8_t code) {
    memset(block->bytes, 0, sizeof block->bytes);
    PutLittleEndian32(block->bytes + kDirectionAt, kDirectionRequest);
    PutLittleEndian32(block->bytes + kLengthAt, length);
    block->bytes[kTargetAt] = target;
    block->bytes[kCodeAt] = code;
}

void BeginReplyFetch(RequestBlock* block) {
    memset(block->bytes, 0, sizeof block->bytes);
    PutLittleEndian32(block->bytes + kDirectionAt, kDirectionReply);
    PutLittleEndian32(block->bytes + kLengthAt, kReplyBytes);
}

}  // namespace tav
