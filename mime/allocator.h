#pragma once
// Every allocation of the MIME engine goes through here, so that a test can
// refuse any single one of them and prove that each failure path frees what it
// built. Failure is a null result, never an exception.

#include <cstddef>

namespace mime {

// Decides whether the next allocation may proceed; a test installs one.
using AllocationGate = bool (*)();

extern AllocationGate allocationGate;

// True when the gate (if any) lets the next allocation proceed. Allocations
// carved out of a block already held ask this too, so they can be refused alike.
inline bool MayAllocate()
{
    return allocationGate == nullptr || allocationGate();
}

// Null when the memory cannot be had.
void* Allocate(std::size_t size);

// Null when the memory cannot be had; the old block then stays valid and owned
// by the caller.
void* Reallocate(void* block, std::size_t size);

void Release(void* block);

// Null lets every allocation proceed.
void SetAllocationGate(AllocationGate gate);

// Blocks the calling thread obtained and has not yet released: 0 once
// everything it built has been freed.
std::size_t LiveBlocks();

// Bytes the calling thread asked for and has not yet released, and the most
// there have been since its last ResetPeakBytes: what a parse holds at its worst.
std::size_t LiveBytes();
std::size_t PeakBytes();
void ResetPeakBytes();

} // namespace mime
