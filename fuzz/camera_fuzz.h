// Shared part of the harnesses that fuzz what a camera sends (its flash pages,
// its replies, its stream): the library's real code against the simulator's
// in-process camera server, on a private device directory, with every
// protocol pause on the virtual clock so an iteration costs only its requests.
//
// The fuzzer's bytes are read through Input; past their end every read gives
// zeros, so any input is a whole script. The encodings of each harness are
// written next to its entry point, and fuzz/make_seeds.cpp writes the seed
// corpora in the same encodings from the simulator's profiles.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "sim/sim.h"

namespace camera_fuzz {

// The bytes of one fuzz input, read front to back.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : p_(data), left_(size) {}
    bool Empty() const { return left_ == 0; }
    size_t Left() const { return left_; }
    uint8_t Byte() {
        if (left_ == 0) return 0;
        --left_;
        return *p_++;
    }
    uint16_t Word() {
        uint16_t low = Byte();
        return (uint16_t)(low | Byte() << 8);
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | (uint32_t)Word() << 16;
    }
    // n bytes into out; zeros past the end of the input.
    void Take(void* out, size_t n) {
        size_t have = n < left_ ? n : left_;
        if (have) memcpy(out, p_, have);
        memset((uint8_t*)out + have, 0, n - have);
        p_ += have;
        left_ -= have;
    }

  private:
    const uint8_t* p_;
    size_t left_;
};

// Appends to a seed in the encodings Input reads.
inline void PutByte(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back((uint8_t)v);
}
inline void PutWord(std::vector<uint8_t>* out, uint32_t v) {
    PutByte(out, v);
    PutByte(out, v >> 8);
}
inline void PutDword(std::vector<uint8_t>* out, uint32_t v) {
    PutWord(out, v);
    PutWord(out, v >> 16);
}

// The bench of one harness process: a simulator serving `profiles` as device
// indexes 0, 1, ... (their socket names must sort in that order), the path
// table filled, a private shared block, the virtual clock installed. Set up
// at the first call; later calls return the same bench.
struct Bench {
    sim::Server* server = nullptr;
    std::vector<int> cameras;  // simulator camera number of device index i
};
Bench& Setup(const std::vector<sim::Profile>& profiles);

// Empties device index `index`'s slot of the device table, as a process that
// never initialised the camera has it.
void ForgetCamera(int index);

// Writes the simulator camera's flash page (the rest of the page erased).
void SetPage(Bench& bench, int index, int page, const std::vector<uint8_t>& bytes);

// Stops the device's live video, if any runs, and waits until the reader has
// given the camera back; traps (a finding) when that takes longer than the
// library's documented bound.
void StopLiveVideo(const char* name);

// Waits until device `index`'s camera is idle (no reader or capture holds
// it); false after timeoutMs.
bool WaitIdle(int index, uint32_t timeoutMs);

// A finding: the library broke a documented result or rule.
[[noreturn]] void Finding(const char* what);

}  // namespace camera_fuzz