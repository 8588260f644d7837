#pragma once
// Owned lines of message text, each a node of a doubly linked list.
// The lists are open records: the parser, the serializer and the reduction read
// head, tail and each node's fields directly; changes go through the
// operations below (ReplaceLineText included).

#include <cstddef>
#include <cstdint>

struct LineNode {
    char* text; // NUL-terminated, owned by the node
    LineNode* next;
    LineNode* prev;
    std::int32_t length; // always the string length of text
    // Bookkeeping of the node allocator: where the node lies in the chunk it
    // was carved from, and how much of the chunk it took (both 0 for a node
    // that has a block of its own).
    std::uint16_t chunkOffset;
    std::uint16_t carvedSize;
};

// Releases a node and its text; for nodes the caller took out with Unlink.
void FreeLineNode(LineNode* node);

// Gives node its own copy of text. False when out of memory; the node is then unchanged.
bool ReplaceLineText(LineNode* node, const char* text);

class LineList {
public:
    LineNode* head = nullptr;
    LineNode* tail = nullptr;

    LineList() = default;
    ~LineList() { Clear(); }
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;

    void Clear();

    // Each of these stores a copy and returns the new node, or null when out of
    // memory (the list is then unchanged).
    LineNode* Append(const char* text);
    LineNode* Append(const char* text, std::size_t length);
    // Stores content followed by CR LF: a line read without its line break.
    LineNode* AppendLine(const char* content, std::size_t contentLength);
    LineNode* InsertBefore(LineNode* node, const char* text);

    // Takes node out of the list; it then belongs to the caller.
    LineNode* Unlink(LineNode* node);

private:
    void LinkLast(LineNode* node);
};
