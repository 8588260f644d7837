#include "mime/allocator.h"

#include <cstdlib>

namespace mime {

AllocationGate allocationGate = nullptr;

namespace {
std::size_t liveBlocks = 0;
}

void* Allocate(std::size_t size)
{
    if (!MayAllocate())
        return nullptr;
    void* block = std::malloc(size);
    if (block)
        ++liveBlocks;
    return block;
}

void* Reallocate(void* block, std::size_t size)
{
    if (!block)
        return Allocate(size);
    if (!MayAllocate())
        return nullptr;
    return std::realloc(block, size);
}

void Release(void* block)
{
    if (!block)
        return;
    --liveBlocks;
    std::free(block);
}

void SetAllocationGate(AllocationGate gate)
{
    allocationGate = gate;
}

std::size_t LiveBlocks()
{
    return liveBlocks;
}

} // namespace mime
