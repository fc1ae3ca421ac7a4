// SPDX-License-Identifier: MIT
#include "platform/memory.h"

#include <malloc.h>

namespace snapsift {

void ReturnFreeMemory()
{
    malloc_trim(0);
}

void LimitMemoryPools()
{
    mallopt(M_ARENA_MAX, 1);
}

}  // namespace snapsift
