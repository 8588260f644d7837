#include "mime/allocator.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mime {

AllocationGate allocationGate = nullptr;

namespace {

// Counted per thread: threads that each strip their own messages (clipsum -j)
// then allocate side by side without sharing a counter, and a message's blocks
// are made and released by the thread that strips it.
thread_local std::size_t liveBlocks = 0;
thread_local std::size_t liveBytes = 0;
thread_local std::size_t peakBytes = 0;

// Each block carries its size in front, so that a release knows what it gives
// back; the header keeps the block as aligned as malloc's.
constexpr std::size_t kHeaderSize = alignof(std::max_align_t);

void Count(std::size_t added, std::size_t removed)
{
    liveBytes = liveBytes + added - removed;
    if (liveBytes > peakBytes)
        peakBytes = liveBytes;
}

std::size_t SizeOf(void* block)
{
    std::size_t size;
    std::memcpy(&size, static_cast<char*>(block) - kHeaderSize, sizeof size);
    return size;
}

void* Record(void* raw, std::size_t size)
{
    std::memcpy(raw, &size, sizeof size);
    return static_cast<char*>(raw) + kHeaderSize;
}

} // namespace

void* Allocate(std::size_t size)
{
    if (!MayAllocate() || size > SIZE_MAX - kHeaderSize)
        return nullptr;
    void* raw = std::malloc(size + kHeaderSize);
    if (!raw)
        return nullptr;
    ++liveBlocks;
    Count(size, 0);
    return Record(raw, size);
}

void* Reallocate(void* block, std::size_t size)
{
    if (!block)
        return Allocate(size);
    if (!MayAllocate() || size > SIZE_MAX - kHeaderSize)
        return nullptr;
    const std::size_t old = SizeOf(block);
    void* raw = std::realloc(static_cast<char*>(block) - kHeaderSize, size + kHeaderSize);
    if (!raw)
        return nullptr;
    Count(size, old);
    return Record(raw, size);
}

void Release(void* block)
{
    if (!block)
        return;
    --liveBlocks;
    Count(0, SizeOf(block));
    std::free(static_cast<char*>(block) - kHeaderSize);
}

void SetAllocationGate(AllocationGate gate)
{
    allocationGate = gate;
}

std::size_t LiveBlocks()
{
    return liveBlocks;
}

std::size_t LiveBytes()
{
    return liveBytes;
}

std::size_t PeakBytes()
{
    return peakBytes;
}

void ResetPeakBytes()
{
    peakBytes = liveBytes;
}

} // namespace mime
