#include <algorithm>
#include <random>

#include "mime/line_list.h"
#include "test_support.h"

namespace {

using LineListTest = EngineTest;

// Walks the list both ways and checks that the links agree.
void ExpectConsistent(const LineList& list)
{
    if (!list.head) {
        EXPECT_EQ(list.tail, nullptr);
        return;
    }
    EXPECT_EQ(list.head->prev, nullptr);
    EXPECT_EQ(list.tail->next, nullptr);
    const LineNode* last = nullptr;
    for (const LineNode* node = list.head; node; node = node->next) {
        EXPECT_EQ(node->prev, last);
        EXPECT_EQ(static_cast<std::size_t>(node->length), std::strlen(node->text));
        last = node;
    }
    EXPECT_EQ(last, list.tail);
}

TEST_F(LineListTest, AppendCopiesTheTextAndLinksAtTheTail)
{
    LineList list;
    char text[] = "first\r\n";
    LineNode* first = list.Append(text);
    text[0] = 'X';
    list.Append("second\r\n");
    list.AppendLine("third", 5);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"first\r\n", "second\r\n", "third\r\n"}));
    EXPECT_EQ(list.head, first);
    ExpectConsistent(list);
}

TEST_F(LineListTest, InsertBeforeTheHeadMakesANewHeadAndKeepsTheTail)
{
    LineList list;
    LineNode* a = list.Append("a");
    LineNode* c = list.Append("c");
    LineNode* head = list.InsertBefore(a, "head");
    list.InsertBefore(c, "b");
    EXPECT_EQ(list.head, head);
    EXPECT_EQ(list.tail, c);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"head", "a", "b", "c"}));
    ExpectConsistent(list);
}

TEST_F(LineListTest, UnlinkHandsTheNodeToTheCaller)
{
    LineList list;
    LineNode* only = list.Append("only\r\n");
    EXPECT_EQ(list.Unlink(only), only);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_STREQ(only->text, "only\r\n");
    EXPECT_EQ(only->next, nullptr);
    EXPECT_EQ(only->prev, nullptr);
    FreeLineNode(only);

    LineNode* a = list.Append("a");
    LineNode* b = list.Append("b");
    LineNode* c = list.Append("c");
    FreeLineNode(list.Unlink(b));
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->prev, a);
    FreeLineNode(list.Unlink(c));
    EXPECT_EQ(list.tail, a);
    FreeLineNode(list.Unlink(a));
    ExpectConsistent(list);
}

TEST_F(LineListTest, ReplacedTextIsOwnedByTheNode)
{
    LineList list;
    LineNode* node = list.Append("Content-Type: multipart/mixed\r\n");
    ASSERT_TRUE(ReplaceLineText(node, "Content-Type: text/plain\r\n"));
    ASSERT_TRUE(ReplaceLineText(node, "Content-Type: text/html\r\n"));
    EXPECT_STREQ(node->text, "Content-Type: text/html\r\n");
    EXPECT_EQ(node->length, 25);
}

// Short lines share chunks, long ones get blocks of their own; lines of every
// size, freed in any order, must come back intact and leave nothing behind.
TEST_F(LineListTest, LinesOfAnySizeSurviveAnyOrderOfRelease)
{
    std::mt19937 random(7);
    LineList list;
    std::vector<std::string> expected;
    for (int i = 0; i < 5000; ++i) {
        const std::size_t size = (i % 97 == 0) ? 5000 + random() % 70000 : random() % 200;
        std::string text(size, static_cast<char>('a' + i % 26));
        ASSERT_NE(list.Append(text.c_str(), text.size()), nullptr);
        expected.push_back(text);
    }
    EXPECT_EQ(Lines(list), expected);

    std::vector<LineNode*> nodes;
    for (LineNode* node = list.head; node; node = node->next)
        nodes.push_back(node);
    std::shuffle(nodes.begin(), nodes.end(), random);
    for (std::size_t i = 0; i < nodes.size() / 2; ++i)
        FreeLineNode(list.Unlink(nodes[i]));
    ExpectConsistent(list);
    list.Clear();
    EXPECT_EQ(list.head, nullptr);
}

} // namespace
