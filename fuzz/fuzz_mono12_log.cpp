// Fuzzes Mono12To8Log: frames of any size, on every instruction-set path, against the
// reference conversion.
#include "fuzz/convert_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return convert_fuzz::Run(data, size, 2, 1, tav::Mono12To8Log, reference::Mono12Log);
}
