#include "mime/text_arena.h"

#include <cstdint>

#include "mime/allocator.h"

struct TextArena::Block {
    Block* previous;
    std::size_t used;
    std::size_t size;
};

namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;
// A text larger than this gets a block of its own, so that the room left in
// the shared block is not lost.
constexpr std::size_t kLargestShared = kBlockBytes / 8;

} // namespace

char* TextArena::Carve(std::size_t size)
{
    // Carving asks too, so that a test can refuse it as it refuses a block.
    if (!mime::MayAllocate())
        return nullptr;
    if (last_ && size <= last_->size - last_->used) {
        char* text = reinterpret_cast<char*>(last_ + 1) + last_->used;
        last_->used += size;
        return text;
    }
    const bool own = size > kLargestShared;
    if (size > SIZE_MAX - sizeof(Block))
        return nullptr;
    const std::size_t room = own ? size : kBlockBytes - sizeof(Block);
    auto* block = static_cast<Block*>(mime::Allocate(sizeof(Block) + room));
    if (!block)
        return nullptr;
    block->used = size;
    block->size = room;
    if (own && last_) {
        block->previous = last_->previous;
        last_->previous = block;
    } else {
        block->previous = last_;
        last_ = block;
    }
    return reinterpret_cast<char*>(block + 1);
}

void TextArena::Clear()
{
    while (last_) {
        Block* previous = last_->previous;
        mime::Release(last_);
        last_ = previous;
    }
}
