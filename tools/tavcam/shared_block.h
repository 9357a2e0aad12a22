// A copy of the shared block that all processes using the library map.
#pragma once

#include "core/shared_data.h"

// False when the block is not available to this process.
bool CopySharedBlock(tav::SharedData* out);
