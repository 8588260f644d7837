#include <string>
#include <vector>

#include "mime/line_reader.h"
#include "test_support.h"

namespace {

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
