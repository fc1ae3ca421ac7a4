// SPDX-License-Identifier: MIT
#pragma once

namespace snapsift {

// Hands the memory that the program has freed but the C library still holds
// back to the system, from every thread's pool. A search's worker threads
// leave such memory behind in pools that the window's thread cannot reuse.
void ReturnFreeMemory();

// Lets all threads share one of the C library's pools of memory (by default
// a thread gets a pool of its own, up to eight per core). What a thread frees
// stays in its pool, where other threads cannot reuse it: with a pool for
// each of the search's and the content check's threads, the window's peak
// grew by what each of them once held (4 MiB at 150,000 rows). Call before
// the first thread starts.
void LimitMemoryPools();

}  // namespace snapsift
