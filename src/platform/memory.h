// SPDX-License-Identifier: MIT
#pragma once

namespace snapsift {

// Hands the memory that the program has freed but the C library still holds
// back to the system, from every thread's pool. A search's worker threads
// leave such memory behind in pools that the window's thread cannot reuse.
void ReturnFreeMemory();

} // namespace snapsift
