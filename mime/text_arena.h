#pragma once
// Short texts carved one after another out of shared blocks on the engine's
// allocator, all released at once: a text costs its bytes, not a block of its
// own. For many small texts that live as long as each other (the listing).

#include <cstddef>

class TextArena {
public:
    TextArena() = default;
    ~TextArena() { Clear(); }
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // Room for size bytes, valid until Clear; null when out of memory.
    char* Carve(std::size_t size);

    // Releases every text carved.
    void Clear();

private:
    struct Block;
    Block* last_ = nullptr; // the block carved from; the others chained behind it
};
