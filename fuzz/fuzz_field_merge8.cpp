// Fuzzes FieldMerge8: frames of any size, on every instruction-set path, against the
// reference conversion.
#include "fuzz/convert_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return convert_fuzz::Run(data, size, 1, 1, tav::FieldMerge8, reference::FieldMerge);
}
