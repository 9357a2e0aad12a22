#include "tools/tavcam/shared_block.h"

#include <string.h>

#include "tavcam.h"

// On POSIX the library hands out a copy of its view; on Windows the named
// mapping is opened directly.
bool CopySharedBlock(tav::SharedData* out) {
#if defined(_WIN32)
    HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, tav::kSharedDataName);
    if (!map) return false;
    void* view = MapViewOfFile(map, FILE_MAP_READ, 0, 0, tav::kSharedDataSize);
    if (view) memcpy(out, view, sizeof *out);
    if (view) UnmapViewOfFile(view);
    CloseHandle(map);
    return view != nullptr;
#else
    return TavcamCopySharedData(out, sizeof *out) == 1;
#endif
}
