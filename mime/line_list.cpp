#include "mime/line_list.h"

#include <cstring>

#include "mime/allocator.h"

#if defined(__SANITIZE_ADDRESS__)
#define MIME_POISON_CHUNKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIME_POISON_CHUNKS 1
#endif
#endif

#ifdef MIME_POISON_CHUNKS
#include <sanitizer/asan_interface.h>
#define POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define POISON(address, size) ((void)(address), (void)(size))
#define UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace {

// A message holds one node per line, mostly short ones: carving them out of
// shared chunks costs far less time and memory than a heap block each. A chunk
// is released when its last node is. A list is built and freed by one thread,
// so each thread has a current chunk of its own, serving every list it builds
// (clipsum strips files on several threads; the plug-in uses one).
struct NodeChunk {
    std::size_t liveNodes;
    std::size_t used;
};

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kLargestCarvedNode = 4096;

constexpr std::size_t RoundUpToNodeAlignment(std::size_t size)
{
    return (size + alignof(LineNode) - 1) / alignof(LineNode) * alignof(LineNode);
}

constexpr std::size_t kChunkHeaderSize = RoundUpToNodeAlignment(sizeof(NodeChunk));

static_assert(kChunkSize - 1 <= UINT16_MAX, "chunk offsets must fit the node's field");
static_assert(kLargestCarvedNode <= UINT16_MAX, "carved sizes must fit the node's field");

thread_local NodeChunk* currentChunk = nullptr;

char* InlineText(LineNode* node)
{
    return reinterpret_cast<char*>(node + 1);
}

LineNode* CarveNode(std::size_t size)
{
    if (!mime::MayAllocate())
        return nullptr;
    const std::size_t carved = RoundUpToNodeAlignment(size);
    if (!currentChunk || currentChunk->used + carved > kChunkSize) {
        auto* chunk = static_cast<NodeChunk*>(mime::Allocate(kChunkSize));
        if (!chunk)
            return nullptr;
        chunk->liveNodes = 0;
        chunk->used = kChunkHeaderSize;
        POISON(reinterpret_cast<char*>(chunk) + kChunkHeaderSize, kChunkSize - kChunkHeaderSize);
        currentChunk = chunk;
    }
    auto* node = reinterpret_cast<LineNode*>(reinterpret_cast<char*>(currentChunk) + currentChunk->used);
    UNPOISON(node, size);
    node->chunkOffset = static_cast<std::uint16_t>(currentChunk->used);
    node->carvedSize = static_cast<std::uint16_t>(carved);
    currentChunk->used += carved;
    ++currentChunk->liveNodes;
    return node;
}

// A node with room for length characters of text behind it, terminator set;
// the caller fills in the text.
LineNode* NewNode(std::size_t length)
{
    if (length > INT32_MAX)
        return nullptr;
    const std::size_t size = sizeof(LineNode) + length + 1;
    LineNode* node;
    if (size <= kLargestCarvedNode) {
        node = CarveNode(size);
        if (!node)
            return nullptr;
    } else {
        node = static_cast<LineNode*>(mime::Allocate(size));
        if (!node)
            return nullptr;
        node->chunkOffset = 0;
        node->carvedSize = 0;
    }
    node->text = InlineText(node);
    node->text[length] = '\0';
    node->length = static_cast<std::int32_t>(length);
    node->next = nullptr;
    node->prev = nullptr;
    return node;
}

LineNode* NewNode(const char* text, std::size_t length)
{
    LineNode* node = NewNode(length);
    if (node)
        std::memcpy(node->text, text, length);
    return node;
}

} // namespace

void FreeLineNode(LineNode* node)
{
    if (node->text != InlineText(node))
        mime::Release(node->text);
    if (node->chunkOffset == 0) {
        mime::Release(node);
        return;
    }
    auto* chunk = reinterpret_cast<NodeChunk*>(reinterpret_cast<char*>(node) - node->chunkOffset);
    POISON(node, node->carvedSize);
    if (--chunk->liveNodes == 0) {
        if (chunk == currentChunk)
            currentChunk = nullptr;
        UNPOISON(chunk, kChunkSize);
        mime::Release(chunk);
    }
}

bool ReplaceLineText(LineNode* node, const char* text)
{
    const std::size_t length = std::strlen(text);
    if (length > INT32_MAX)
        return false;
    auto* copy = static_cast<char*>(mime::Allocate(length + 1));
    if (!copy)
        return false;
    std::memcpy(copy, text, length + 1);
    if (node->text != InlineText(node))
        mime::Release(node->text);
    node->text = copy;
    node->length = static_cast<std::int32_t>(length);
    return true;
}

void LineList::Clear()
{
    LineNode* node = head;
    while (node) {
        LineNode* following = node->next;
        FreeLineNode(node);
        node = following;
    }
    head = nullptr;
    tail = nullptr;
}

void LineList::LinkLast(LineNode* node)
{
    node->prev = tail;
    if (tail) {
        tail->next = node;
    } else {
        head = node;
    }
    tail = node;
}

LineNode* LineList::Append(const char* text)
{
    return Append(text, std::strlen(text));
}

LineNode* LineList::Append(const char* text, std::size_t length)
{
    LineNode* node = NewNode(text, length);
    if (node)
        LinkLast(node);
    return node;
}

LineNode* LineList::AppendLine(const char* content, std::size_t contentLength)
{
    if (contentLength > SIZE_MAX - 2)
        return nullptr;
    LineNode* node = NewNode(contentLength + 2);
    if (!node)
        return nullptr;
    std::memcpy(node->text, content, contentLength);
    node->text[contentLength] = '\r';
    node->text[contentLength + 1] = '\n';
    LinkLast(node);
    return node;
}

LineNode* LineList::InsertBefore(LineNode* node, const char* text)
{
    LineNode* inserted = NewNode(text, std::strlen(text));
    if (!inserted)
        return nullptr;
    inserted->prev = node->prev;
    inserted->next = node;
    if (node->prev) {
        node->prev->next = inserted;
    } else {
        head = inserted;
    }
    node->prev = inserted;
    return inserted;
}

LineNode* LineList::Unlink(LineNode* node)
{
    if (node->prev)
        node->prev->next = node->next;
    if (node->next)
        node->next->prev = node->prev;
    if (node == head)
        head = node->next;
    if (node == tail)
        tail = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
    return node;
}
