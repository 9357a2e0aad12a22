// The bytes of one request of the camera socket protocol, shared by the
// transports that speak it: the POSIX stand-in's Unix sockets and the Windows
// build's loopback TCP for cameras under test. All integers are unsigned
// 32-bit little-endian.
//
//   request  code, input length n, output capacity m, then the n input bytes
//   answer   result (1 success, 0 failure), bytes returned r <= m, error
//            number of a failure, then the r output bytes
#pragma once

#include <stdint.h>

namespace plat::protocol {

constexpr uint32_t kMaxInputBytes = 65536;
constexpr uint32_t kMaxOutputBytes = 268435456;
constexpr uint32_t kReadStreamCode = 0x222082;  // the one request that waits without bound
constexpr uint32_t kHeaderBytes = 12;

inline void PutU32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

inline uint32_t GetU32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

inline void PutRequestHeader(uint8_t (&header)[kHeaderBytes], uint32_t code, uint32_t inSize,
                             uint32_t outSize) {
    PutU32(header, code);
    PutU32(header + 4, inSize);
    PutU32(header + 8, outSize);
}

struct Answer {
    uint32_t result;
    uint32_t returned;
    uint32_t error;
};

// The answer's header; false for one that breaks the protocol (a result other
// than 0 or 1, more bytes than asked for): the connection can't be kept in
// step after it.
inline bool ParseAnswer(const uint8_t (&header)[kHeaderBytes], uint32_t outSize, Answer* a) {
    a->result = GetU32(header);
    a->returned = GetU32(header + 4);
    a->error = GetU32(header + 8);
    return a->result <= 1 && a->returned <= outSize;
}

}  // namespace plat::protocol
