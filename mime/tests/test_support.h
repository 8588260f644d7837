#pragma once
// Helpers shared by the engine's tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mime/allocator.h"
#include "mime/mime_part.h"
#include "mime/strip_message.h"

// Every test ends by checking that the engine freed all it built.
class EngineTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(mime::LiveBlocks(), 0u) << "blocks of the engine were not released";
        MimePart::partCount = -1;
    }
};

inline std::vector<std::string> Lines(const LineList& list)
{
    std::vector<std::string> lines;
    for (const LineNode* node = list.head; node; node = node->next)
        lines.emplace_back(node->text, node->length);
    return lines;
}

inline std::string SerializeText(const MimePart& part)
{
    std::size_t length = 0;
    char* text = part.Serialize(length);
    EXPECT_NE(text, nullptr);
    if (!text)
        return {};
    std::string result(text, length);
    EXPECT_EQ(std::strlen(text), length);
    mime::Release(text);
    return result;
}

inline StripStatus ParseText(MimePart& part, const std::string& source)
{
    const char* cursor = source.c_str();
    return part.Parse(cursor, nullptr);
}

inline int ChildCount(const MimePart& part)
{
    int count = 0;
    for (const MimePart* child = part.firstChild; child; child = child->next)
        ++count;
    return count;
}

// Joins lines, each followed by CR LF.
inline std::string Crlf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// Fails one allocation of the engine, the which-th after construction, so
// that a test can fail each allocation of a whole strip in turn.
class FailingAllocations {
public:
    explicit FailingAllocations(long which)
    {
        Counter() = 0;
        Failing() = which;
        mime::SetAllocationGate([] { return ++Counter() != Failing(); });
    }
    ~FailingAllocations() { mime::SetAllocationGate(nullptr); }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // Allocations asked for since the last construction.
    static long Made() { return Counter(); }

private:
    static long& Counter()
    {
        static long counter = 0;
        return counter;
    }
    static long& Failing()
    {
        static long failing = 0;
        return failing;
    }
};

// Hands a text out in pieces: the sizes of the reads in turn, the last one
// repeated (a read never gives more than the window has room for). Reports an
// error instead of any read once failAt bytes have been handed out.
class PiecesSource : public ByteSource {
public:
    PiecesSource(const std::string& text, std::vector<std::size_t> sizes, std::size_t failAt = std::string::npos)
        : text_(text), sizes_(std::move(sizes)), failAt_(failAt)
    {
    }

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override
    {
        if (at_ >= failAt_)
            return false;
        std::size_t size = sizes_.empty() ? capacity : sizes_[next_ < sizes_.size() ? next_ : sizes_.size() - 1];
        ++next_;
        size = std::min({size, capacity, text_.size() - at_});
        if (failAt_ > at_)
            size = std::min(size, failAt_ - at_);
        std::memcpy(buffer, text_.data() + at_, size);
        at_ += size;
        got = size;
        return true;
    }

private:
    const std::string& text_;
    std::vector<std::size_t> sizes_;
    std::size_t failAt_;
    std::size_t at_ = 0;
    std::size_t next_ = 0;
};

// The two reads of a text split at split: all of it at once when split is 0.
inline std::vector<std::size_t> SplitAt(std::size_t split)
{
    if (split == 0)
        return {};
    return {split, std::string::npos};
}
