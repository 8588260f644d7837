#pragma once
// Helpers shared by the engine's tests.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mime/allocator.h"
#include "mime/mime_part.h"

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
