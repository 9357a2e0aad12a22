// A copy of the shared block for diagnostics (the tavcam program's status,
// the tests' helper processes). On Windows a tool opens the named mapping
// itself; on POSIX the library hands out a copy of its own view.
#if !defined(_WIN32)
#include <string.h>

#include "core/attach.h"

extern "C" TAVCAM_POSIX_API int32_t WINAPI TavcamCopySharedData(void* pOut, uint32_t nSize) {
    tav::SharedData* d = tav::Shared();
    if (!d || !pOut || nSize < tav::kSharedDataSize) return 0;
    // Field by field with atomic loads: other processes write the block meanwhile.
    const uint32_t* from = reinterpret_cast<const uint32_t*>(d);
    uint32_t* to = static_cast<uint32_t*>(pOut);
    for (uint32_t i = 0; i < tav::kSharedDataSize / 4; ++i) to[i] = tav::SharedLoad(from[i]);
    return 1;
}
#endif
