#include <string>

#include "test_support.h"

namespace {

using ParseTest = EngineTest;

const std::string kSimple = Crlf({
    "From: a@example.com",
    "Content-Type: multipart/mixed; boundary=\"XYZ\"",
    "",
    "preamble",
    "--XYZ",
    "Content-Type: text/plain",
    "",
    "hello",
    "--XYZ",
    "Content-Type: application/octet-stream",
    "",
    "AAAA",
    "--XYZ--",
    "trailing",
});

TEST_F(ParseTest, SimpleMultipartGivesOneChildPerBodyPart)
{
    MimePart root;
    const char* cursor = kSimple.c_str();
    ASSERT_EQ(root.Parse(cursor, nullptr), StripStatus::Ok);
    EXPECT_STREQ(cursor, "trailing\r\n");
    EXPECT_EQ(MimePart::partCount, 1);
    EXPECT_EQ(Lines(root.headers),
              (std::vector<std::string>{"From: a@example.com\r\n",
                                        "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n", "\r\n"}));
    EXPECT_EQ(root.contentTypeLine, root.headers.head->next);
    EXPECT_STREQ(root.boundary, "XYZ");
    EXPECT_STREQ(root.type, "multipart");
    EXPECT_STREQ(root.subtype, "mixed");
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"preamble\r\n"}));
    ASSERT_EQ(ChildCount(root), 2);
    const MimePart& text = *root.firstChild;
    EXPECT_EQ(Lines(text.headers), (std::vector<std::string>{"Content-Type: text/plain\r\n", "\r\n"}));
    EXPECT_EQ(Lines(text.body), (std::vector<std::string>{"hello\r\n"}));
    EXPECT_EQ(text.boundary, nullptr);
    EXPECT_EQ(Lines(text.next->body), (std::vector<std::string>{"AAAA\r\n"}));
    EXPECT_EQ(root.epilogue.head, nullptr);
}

TEST_F(ParseTest, WithoutBoundaryEverythingStaysInTheRoot)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, "Subject: hi\nContent-Type: text/plain\n\n--XYZ\nbody"), StripStatus::Ok);
    EXPECT_EQ(MimePart::partCount, -1);
    EXPECT_EQ(root.firstChild, nullptr);
    EXPECT_EQ(Lines(root.headers),
              (std::vector<std::string>{"Subject: hi\r\n", "Content-Type: text/plain\r\n", "\r\n"}));
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"--XYZ\r\n", "body\r\n"}));
}

TEST_F(ParseTest, LoneCrAndLoneLfBecomeCrLf)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, "A: 1\rB: 2\n\r\rx\r\ny"), StripStatus::Ok);
    EXPECT_EQ(Lines(root.headers), (std::vector<std::string>{"A: 1\r\n", "B: 2\r\n", "\r\n"}));
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"\r\n", "x\r\n", "y\r\n"}));
}

TEST_F(ParseTest, EmptySourceLeavesEverythingEmpty)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, ""), StripStatus::Ok);
    EXPECT_EQ(root.headers.head, nullptr);
    EXPECT_EQ(root.body.head, nullptr);
    EXPECT_EQ(MimePart::partCount, -1);
}

TEST_F(ParseTest, FoldedContentTypeIsOneLineAndItsBoundaryIsFound)
{
    MimePart root;
    const std::string source =
        Crlf({"CONTENT-type: Multipart/Mixed;", "\tBoundary=abc", "", "--abc", "", "x", "--abc--"});
    ASSERT_EQ(ParseText(root, source), StripStatus::Ok);
    EXPECT_EQ(Lines(root.headers),
              (std::vector<std::string>{"CONTENT-type: Multipart/Mixed;\r\n\tBoundary=abc\r\n", "\r\n"}));
    EXPECT_STREQ(root.boundary, "abc");
    EXPECT_EQ(ChildCount(root), 1);
}

TEST_F(ParseTest, ContentTypeFieldsAreTakenApartAsWritten)
{
    struct Case {
        const char* field;
        const char* type;
        const char* subtype;
        const char* boundary;
    };
    const Case cases[] = {
        {"Content-Type:multipart/mixed;boundary=b1", "multipart", "mixed", "b1"},
        // A blank before the equals sign makes another name.
        {"Content-Type: multipart/mixed; boundary =b1", "multipart", "mixed", nullptr},
        // Tokens end at a slash or a blank only, so the parameter becomes the subtype.
        {"Content-Type: multipart; boundary=b1", "multipart;", "boundary=b1", nullptr},
        // Without a subtype the field gives neither type nor boundary.
        {"Content-Type: multipart", "", "", nullptr},
        {"Content-Type: a/b; boundary=first; boundary=\"second one\"", "a", "b", "second one"},
        {"Content-Type: text/plain; charset=x", "text", "plain", nullptr},
    };
    for (const Case& c : cases) {
        MimePart root;
        ASSERT_EQ(ParseText(root, Crlf({c.field, ""})), StripStatus::Ok);
        EXPECT_EQ(root.contentTypeLine, root.headers.head) << c.field;
        EXPECT_STREQ(root.type, c.type) << c.field;
        EXPECT_STREQ(root.subtype, c.subtype) << c.field;
        if (c.boundary) {
            EXPECT_STREQ(root.boundary, c.boundary) << c.field;
        } else {
            EXPECT_EQ(root.boundary, nullptr) << c.field;
        }
    }
}

TEST_F(ParseTest, TypeAndSubtypeKeepTheirFirstFortyCharacters)
{
    MimePart root;
    const std::string longToken(60, 'x');
    ASSERT_EQ(ParseText(root, "Content-Type: " + longToken + "/" + longToken + "\r\n"), StripStatus::Ok);
    EXPECT_EQ(std::string(root.type), std::string(40, 'x'));
    EXPECT_EQ(std::string(root.subtype), std::string(40, 'x'));
}

TEST_F(ParseTest, TheLastContentTypeFieldAndTheLastBoundaryCount)
{
    MimePart root;
    const std::string source = Crlf({"Content-Type: multipart/mixed; boundary=one", "X: y",
                                     "Content-Type: multipart/related", "", "--one", "", "a"});
    ASSERT_EQ(ParseText(root, source), StripStatus::Ok);
    EXPECT_STREQ(root.contentTypeLine->text, "Content-Type: multipart/related\r\n");
    EXPECT_STREQ(root.boundary, "one");
    EXPECT_EQ(ChildCount(root), 1);
}

TEST_F(ParseTest, DelimitersAreCaseSensitive)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, Crlf({"Content-Type: multipart/mixed; boundary=Abc", "", "--abc", "--ABC--"})),
              StripStatus::Ok);
    EXPECT_EQ(root.firstChild, nullptr);
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"--abc\r\n", "--ABC--\r\n"}));
}

TEST_F(ParseTest, BlanksAfterADelimiterAreTransportPadding)
{
    MimePart root;
    const std::string source = Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "one", "--b \t", "",
                                     "two", "--b--  ", "after"});
    ASSERT_EQ(ParseText(root, source), StripStatus::Ok);
    ASSERT_EQ(ChildCount(root), 2);
    EXPECT_EQ(Lines(root.firstChild->body), (std::vector<std::string>{"one\r\n"}));
    EXPECT_EQ(Lines(root.firstChild->next->body), (std::vector<std::string>{"two\r\n"}));
    EXPECT_EQ(root.body.head, nullptr);
    // The padded closing delimiter ends the root: what follows is not read.
    EXPECT_EQ(Lines(root.epilogue), std::vector<std::string>{});

    // Other text after the boundary is no delimiter: the child gives the line
    // back and the enclosing part keeps it as a line of its own.
    MimePart other;
    ASSERT_EQ(ParseText(other, Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "one", "--bx", "--b--"})),
              StripStatus::Ok);
    EXPECT_EQ(ChildCount(other), 1);
    EXPECT_EQ(Lines(other.body), (std::vector<std::string>{"--bx\r\n"}));
}

TEST_F(ParseTest, ADelimiterInHeaderModeIsAHeaderLine)
{
    MimePart root;
    const std::string source =
        Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "--b", "X: 1", "", "body", "--b--"});
    ASSERT_EQ(ParseText(root, source), StripStatus::Ok);
    ASSERT_EQ(ChildCount(root), 1);
    EXPECT_EQ(Lines(root.firstChild->headers), (std::vector<std::string>{"--b\r\n", "X: 1\r\n", "\r\n"}));
    EXPECT_EQ(MimePart::partCount, 0);
}

TEST_F(ParseTest, NestedMultipartKeepsItsEpilogue)
{
    MimePart root;
    const std::string source = Crlf({"Content-Type: multipart/mixed; boundary=outer",
                                     "",
                                     "--outer",
                                     "Content-Type: multipart/alternative; boundary=inner",
                                     "",
                                     "inner preamble",
                                     "--inner",
                                     "Content-Type: text/plain",
                                     "",
                                     "text",
                                     "--inner",
                                     "",
                                     "html",
                                     "--inner--",
                                     "epilogue 1",
                                     "xxouter begins",
                                     "--outer",
                                     "",
                                     "attachment",
                                     "--outer--"});
    const char* cursor = source.c_str();
    ASSERT_EQ(root.Parse(cursor, nullptr), StripStatus::Ok);
    EXPECT_EQ(*cursor, '\0');
    EXPECT_EQ(MimePart::partCount, 3);
    ASSERT_EQ(ChildCount(root), 2);
    const MimePart& alternative = *root.firstChild;
    EXPECT_EQ(ChildCount(alternative), 2);
    EXPECT_EQ(Lines(alternative.body), (std::vector<std::string>{"inner preamble\r\n"}));
    // The epilogue ends at the first line that holds the enclosing boundary from its third character on.
    EXPECT_EQ(Lines(alternative.epilogue), (std::vector<std::string>{"epilogue 1\r\n"}));
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"xxouter begins\r\n"}));
    EXPECT_EQ(root.epilogue.head, nullptr);
}

TEST_F(ParseTest, AnEmptyBoundaryDelimitsWithBareDashes)
{
    MimePart root;
    const std::string source = Crlf({"Content-Type: multipart/mixed; boundary=\"\"", "", "--",
                                     "Content-Type: multipart/alternative; boundary=in", "", "--in", "", "a", "--in--",
                                     "tail", "----", "after"});
    const char* cursor = source.c_str();
    ASSERT_EQ(root.Parse(cursor, nullptr), StripStatus::Ok);
    EXPECT_STREQ(cursor, "after\r\n");
    ASSERT_EQ(ChildCount(root), 1);
    EXPECT_EQ(Lines(root.firstChild->firstChild->body), (std::vector<std::string>{"a\r\n"}));
    // Every line begins with the empty boundary, so the epilogue ends at once.
    EXPECT_EQ(root.firstChild->epilogue.head, nullptr);
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"tail\r\n"}));
}

TEST_F(ParseTest, NestingIsRefusedBelowTheDepthLimit)
{
    // Each level opens a multipart inside the one before it.
    auto nested = [](int levels) {
        std::string source;
        for (int level = 0; level < levels; ++level) {
            source += "Content-Type: multipart/mixed; boundary=\"=_" + std::to_string(level) + "_=\"\r\n\r\n--=_" +
                      std::to_string(level) + "_=\r\n";
        }
        return source + "Content-Type: text/plain\r\n\r\ntext\r\n";
    };
    MimePart deepest;
    EXPECT_EQ(ParseText(deepest, nested(kMaxNestingDepth)), StripStatus::Ok);
    EXPECT_EQ(MimePart::partCount, kMaxNestingDepth - 1);
    MimePart tooDeep;
    EXPECT_EQ(ParseText(tooDeep, nested(kMaxNestingDepth + 1)), StripStatus::TooDeep);
}

TEST_F(ParseTest, LinesOfAnyLengthAreKeptWhole)
{
    const std::string longLine(200000, 'q');
    std::string folded = "Subject: start";
    for (int i = 0; i < 6000; ++i)
        folded += "\r\n continuation " + std::to_string(i);
    MimePart root;
    ASSERT_EQ(ParseText(root, folded + "\r\nX-Long: " + longLine + "\n\n" + longLine + "\r" + longLine),
              StripStatus::Ok);
    EXPECT_EQ(Lines(root.headers), (std::vector<std::string>{folded + "\r\n", "X-Long: " + longLine + "\r\n", "\r\n"}));
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{longLine + "\r\n", longLine + "\r\n"}));
}

} // namespace

namespace {

using ParseMendsTest = EngineTest;

// A boundary written without its indentation after "multipart/mixed;" still
// belongs to the field, which keeps its bytes; a delimiter line never joins it.
TEST_F(ParseMendsTest, AnUnindentedParameterContinuesAContentTypeEndingInASemicolon)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, Crlf({"Content-Type: multipart/mixed;", "boundary=\"b\"", "", "--b", "", "one", "--b--"})),
              StripStatus::Ok);
    EXPECT_STREQ(root.boundary, "b");
    EXPECT_STREQ(root.contentTypeLine->text, "Content-Type: multipart/mixed;\r\nboundary=\"b\"\r\n");
    EXPECT_EQ(ChildCount(root), 1);

    MimePart inner;
    ASSERT_EQ(ParseText(inner, Crlf({"Content-Type: multipart/mixed; boundary=o", "", "--o", "Content-Type: text/plain;",
                                     "--o", "", "two", "--o--"})),
              StripStatus::Ok);
    ASSERT_EQ(ChildCount(inner), 1);
    EXPECT_EQ(Lines(inner.firstChild->headers),
              (std::vector<std::string>{"Content-Type: text/plain;\r\n", "--o\r\n", "\r\n"}));
}

// In a body part, a line that is no field starts the body, as mail readers
// read it; a delimiter of the enclosing part in header position stays a
// header line (two delimiters in a row make one empty part).
TEST_F(ParseMendsTest, ALineThatIsNoFieldEndsABodyPartsHeader)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b",
                                    "Content-Type: text/plain", "no colon here", "X-Later: field", "", "text", "--b",
                                    "--b", "", "empty", "--b--"})),
              StripStatus::Ok);
    const MimePart& text = *root.firstChild;
    EXPECT_TRUE(text.headerEndedByText);
    EXPECT_EQ(Lines(text.headers), (std::vector<std::string>{"Content-Type: text/plain\r\n"}));
    EXPECT_EQ(Lines(text.body),
              (std::vector<std::string>{"no colon here\r\n", "X-Later: field\r\n", "\r\n", "text\r\n"}));
    ASSERT_EQ(ChildCount(root), 2);
    EXPECT_EQ(Lines(text.next->headers), (std::vector<std::string>{"--b\r\n", "\r\n"}));
}

} // namespace
