#include <string>
#include <vector>

#include "mime/line_reader.h"
#include "test_support.h"

namespace {

// Every line that ReadLine delivers from text with a buffer of max characters.
std::vector<std::string> ReadAll(const char* text, std::int32_t max)
{
    std::vector<std::string> lines;
    std::vector<char> buffer(static_cast<std::size_t>(max));
    const char* cursor = text;
    for (;;) {
        const std::int32_t count = ReadLine(cursor, buffer.data(), max);
        if (count == 0)
            break;
        EXPECT_LE(count, max - 1);
        EXPECT_EQ(buffer[static_cast<std::size_t>(count)], '\0');
        lines.emplace_back(buffer.data(), static_cast<std::size_t>(count));
    }
    EXPECT_EQ(*cursor, '\0');
    return lines;
}

TEST(ReadLine, EveryKindOfLineBreakComesBackAsOneLf)
{
    EXPECT_EQ(ReadAll("ab\r\nde\rfg\n\nhi", 100), (std::vector<std::string>{"ab\n", "de\n", "fg\n", "\n", "hi"}));
    EXPECT_EQ(ReadAll("\n\r", 100), (std::vector<std::string>{"\n", "\n"}));
    EXPECT_EQ(ReadAll("\r\r\n", 100), (std::vector<std::string>{"\n", "\n"}));
}

TEST(ReadLine, StaysOnTheTerminatorAtTheEnd)
{
    const char* text = "hi";
    const char* cursor = text;
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(ReadLine(cursor, buffer, 8), 2);
    EXPECT_EQ(cursor, text + 2);
    EXPECT_EQ(ReadLine(cursor, buffer, 8), 0);
    EXPECT_EQ(ReadLine(cursor, buffer, 8), 0);
    EXPECT_EQ(cursor, text + 2);

    const char* empty = "";
    cursor = empty;
    EXPECT_EQ(ReadLine(cursor, buffer, 8), 0);
    EXPECT_EQ(cursor, empty);
    EXPECT_STREQ(buffer, "hi");
}

TEST(ReadLine, LinesAtTheLimitOfTheBuffer)
{
    EXPECT_EQ(ReadAll("abd\ne", 5), (std::vector<std::string>{"abd\n", "e"}));
    // max - 1 characters without a line break still fit whole.
    EXPECT_EQ(ReadAll("abcd", 5), (std::vector<std::string>{"abcd"}));
}

TEST(ReadLine, AnOverlongLineComesInPiecesWithoutLosingACharacter)
{
    EXPECT_EQ(ReadAll("abcdefg\r\nh", 4), (std::vector<std::string>{"abc", "def", "g\n", "h"}));
    // The content fills the buffer exactly: its line break follows on its own.
    EXPECT_EQ(ReadAll("abcd\r\nxy", 5), (std::vector<std::string>{"abcd", "\n", "xy"}));
}

struct Param {
    std::string name;
    std::string value;
    std::string rest;
};

Param Next(char*& position)
{
    char* name = nullptr;
    char* value = nullptr;
    char* following = NextParam(position, name, value);
    EXPECT_NE(following, nullptr);
    position = following;
    return {name, value, following};
}

TEST(NextParam, QuotedValueThenPlainValue)
{
    std::string text = " boundary=\"=_x y\"; charset=abc";
    char* position = text.data();
    const Param first = Next(position);
    EXPECT_EQ(first.name, "boundary");
    EXPECT_EQ(first.value, "=_x y");
    EXPECT_EQ(first.rest, "charset=abc");
    const Param second = Next(position);
    EXPECT_EQ(second.name, "charset");
    EXPECT_EQ(second.value, "abc");
    EXPECT_EQ(*position, '\0');
}

TEST(NextParam, NameRunsUpToTheEqualsSign)
{
    std::string blank = "charset =abc";
    char* position = blank.data();
    EXPECT_EQ(Next(position).name, "charset ");

    std::string stray = "x; boundary=abc";
    position = stray.data();
    EXPECT_EQ(Next(position).name, "x; boundary");
}

TEST(NextParam, EmptyAndUnterminatedValues)
{
    std::string empty = "a=;b=c";
    char* position = empty.data();
    const Param param = Next(position);
    EXPECT_EQ(param.value, "");
    EXPECT_EQ(param.rest, "b=c");

    std::string open = "a=\"xyz";
    position = open.data();
    EXPECT_EQ(Next(position).value, "xyz");
    EXPECT_EQ(*position, '\0');

    std::string backslash = "a=\"x\\\"y\"";
    position = backslash.data();
    EXPECT_EQ(Next(position).value, "x\\");
}

TEST(NextParam, WithoutEqualsSignLeavesTheTextAlone)
{
    std::string text = "; nothing here\r\n";
    char* name = text.data();
    char* value = text.data();
    EXPECT_EQ(NextParam(text.data(), name, value), nullptr);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(text, "; nothing here\r\n");
}

TEST(FindNoCase, FoldsAsciiLettersOnly)
{
    const char* line = "Content-Type: TEXT/Plain\r\n";
    EXPECT_EQ(FindNoCase(line, "text/plain"), line + 14);
    EXPECT_EQ(FindNoCase("text/plai", "text/plain"), nullptr);
    EXPECT_EQ(FindNoCase("", "a"), nullptr);
    // Bytes outside ASCII are compared as they are.
    EXPECT_EQ(FindNoCase("\xC4", "\xE4"), nullptr);
    EXPECT_NE(FindNoCase("x\x82\xA0y", "\x82\xA0Y"), nullptr);
}

} // namespace
