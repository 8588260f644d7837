#include <string>

#include "test_support.h"

namespace {

using ReduceTest = EngineTest;

const char kMixed[] = "Content-Type: multipart/mixed; boundary=b";

// A multipart/mixed message with the given header lines and body parts.
std::string Message(const std::vector<std::string>& headers, const std::vector<std::vector<std::string>>& parts)
{
    std::string source = Crlf(headers) + "\r\n";
    for (const auto& part : parts)
        source += "--b\r\n" + Crlf(part);
    return source + "--b--\r\n";
}

std::string Reduced(const std::string& source)
{
    MimePart root;
    EXPECT_EQ(ParseText(root, source), StripStatus::Ok);
    EXPECT_GE(MimePart::partCount, 0);
    EXPECT_TRUE(root.StripToText());
    EXPECT_EQ(root.firstChild, nullptr);
    EXPECT_EQ(MimePart::partCount, -1);
    return SerializeText(root);
}

const std::vector<std::string> kAttachment = {"Content-Type: application/pdf; name=a.pdf",
                                              "Content-Transfer-Encoding: base64", "", "JVBERi0xLjQK"};

TEST_F(ReduceTest, TheTextPartReplacesTheMultipart)
{
    const std::string source =
        Message({"From: a", "MIME-Version: 1.0", kMixed},
                {{"Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: 7bit", "", "hello", ""},
                 kAttachment});
    EXPECT_EQ(Reduced(source), Crlf({"From: a", "MIME-Version: 1.0", "Content-Type: text/plain; charset=us-ascii",
                                     "Content-Transfer-Encoding: 7bit", "", "hello"}));
}

TEST_F(ReduceTest, TheTextPartIsFoundWhereverItStandsAndHoweverItIsWritten)
{
    for (const char* contentType :
         {"Content-Type: text/plain", "content-type: TEXT/PLAIN", "Content-Type: application/x; name=\"text/plain\""}) {
        const std::vector<std::string> text = {contentType, "", "text", ""};
        const std::string reduced = Reduced(Message({kMixed}, {kAttachment, kAttachment, text}));
        EXPECT_EQ(reduced, Crlf({contentType, "", "text"})) << contentType;
    }
}

TEST_F(ReduceTest, SelectTextPartMovesTheChosenChildToTheFront)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, Message({kMixed}, {{"Content-Type: image/png", "", "a"}, {"Content-Type: text/plain", "", "t"},
                                                 {"Content-Type: image/png", "", "c"}})),
              StripStatus::Ok);
    MimePart* first = root.firstChild;
    MimePart* text = first->next;
    MimePart* last = text->next;
    EXPECT_EQ(root.SelectTextPart(), text);
    EXPECT_EQ(root.firstChild, text);
    EXPECT_EQ(text->next, first);
    EXPECT_EQ(first->next, last);
    EXPECT_EQ(last->next, nullptr);

    MimePart childless;
    EXPECT_EQ(childless.SelectTextPart(), nullptr);
}

TEST_F(ReduceTest, WithoutAnyTextPartTheFirstChildIsUsed)
{
    EXPECT_EQ(
        Reduced(Message({kMixed}, {kAttachment, {"Content-Type: image/png", "", "png"}})),
        Crlf({"Content-Type: application/pdf; name=a.pdf", "Content-Transfer-Encoding: base64", "", "JVBERi0xLjQK"}));
}

// A part without Content-Type is plain text: the multipart Content-Type line
// goes instead of being left empty, and the part's own Content- fields take
// the place of the enclosing ones of the same names.
TEST_F(ReduceTest, AKeptPartWithoutContentTypeTakesTheMultipartTypeOut)
{
    EXPECT_EQ(Reduced(Message({"Content-Transfer-Encoding: 7bit", kMixed}, {{"X: 1", "", "plain words"}, kAttachment})),
              Crlf({"Content-Transfer-Encoding: 7bit", "", "plain words"}));
    EXPECT_EQ(Reduced(Message({"MIME-Version: 1.0", "Content-Transfer-Encoding: 7bit", kMixed},
                              {kAttachment, {"Content-Transfer-Encoding: quoted-printable", "", "caf=C3=A9"}})),
              Crlf({"MIME-Version: 1.0", "Content-Transfer-Encoding: quoted-printable", "", "caf=C3=A9"}));

}

TEST_F(ReduceTest, OnlyABlankLastLineIsDropped)
{
    const std::vector<std::string> headers = {kMixed};
    EXPECT_EQ(Reduced(Message(headers, {{"Content-Type: text/plain", "", "one", "two"}, kAttachment})),
              Crlf({"Content-Type: text/plain", "", "one", "two"}));
    EXPECT_EQ(Reduced(Message(headers, {{"Content-Type: text/plain", "", "one", "", ""}, kAttachment})),
              Crlf({"Content-Type: text/plain", "", "one", ""}));
    EXPECT_EQ(Reduced(Message(headers, {{"Content-Type: text/plain", "", ""}, kAttachment})),
              Crlf({"Content-Type: text/plain", ""}));
    // An empty text part leaves the preamble in place.
    EXPECT_EQ(Reduced(Crlf({kMixed, "", "preamble", "--b", "Content-Type: text/plain", "", "--b", "", "x", "--b--"})),
              Crlf({"Content-Type: text/plain", "", "preamble"}));
}

const std::vector<std::string> kAlternative = {"Content-Type: multipart/alternative; boundary=alt",
                                               "",
                                               "--alt",
                                               "Content-Type: text/plain; charset=utf-8",
                                               "Content-Transfer-Encoding: quoted-printable",
                                               "",
                                               "the text",
                                               "",
                                               "--alt",
                                               "Content-Type: text/html",
                                               "",
                                               "<p>the text</p>",
                                               "",
                                               "--alt--",
                                               ""};

TEST_F(ReduceTest, ATextPartInsideAnAlternativeComesOutAsText)
{
    // The alternative first, with an attachment after it.
    EXPECT_EQ(Reduced(Message({kMixed}, {kAlternative, kAttachment})),
              Crlf({"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable", "",
                    "the text"}));
    // The alternative as the only part.
    EXPECT_EQ(Reduced(Message({kMixed}, {kAlternative})),
              Crlf({"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable", "",
                    "the text"}));
    // An attachment before the alternative.
    EXPECT_EQ(Reduced(Message({kMixed}, {kAttachment, kAlternative})),
              Crlf({"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable", "",
                    "the text"}));
}

TEST_F(ReduceTest, ContentFieldsOfTheTextPartReplaceThoseOfTheMessage)
{
    const std::string source = Message(
        {"From: a", "CONTENT-TRANSFER-ENCODING : 7bit", kMixed, "Content-Language: en", "Content-Type: x/y"},
        {{"Content-Transfer-Encoding: base64", "X-Note: stays behind", "Content-Type: text/plain; charset=utf-8",
          "Content-Disposition: inline", "X-After: carried", "", "aGVsbG8=", ""},
         kAttachment});
    MimePart root;
    ASSERT_EQ(ParseText(root, source), StripStatus::Ok);
    ASSERT_TRUE(root.StripToText());
    EXPECT_EQ(
        Lines(root.headers),
        (std::vector<std::string>{"From: a\r\n", "Content-Language: en\r\n", "Content-Transfer-Encoding: base64\r\n",
                                  "Content-Type: text/plain; charset=utf-8\r\n", "Content-Disposition: inline\r\n",
                                  "X-After: carried\r\n", "\r\n"}));
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"aGVsbG8=\r\n"}));
}

TEST_F(ReduceTest, AChildlessPartWithoutSiblingsLosesItsContentFields)
{
    MimePart part;
    ASSERT_EQ(ParseText(part, Crlf({"X-Before: 1", "Content-Type: text/plain", "Content-Transfer-Encoding: 7bit",
                                    "content-disposition: inline", "", "body"})),
              StripStatus::Ok);
    ASSERT_TRUE(part.StripToText());
    EXPECT_EQ(Lines(part.headers), (std::vector<std::string>{"X-Before: 1\r\n", "\r\n"}));
    EXPECT_EQ(part.body.head, nullptr);
    EXPECT_EQ(part.contentTypeLine, nullptr);
}

TEST_F(ReduceTest, AChildlessPartWithSiblingsOutlivesThem)
{
    MimePart root;
    ASSERT_EQ(ParseText(root, Message({kMixed}, {{"", "a"}, {"", "b"}, {"", "c"}})), StripStatus::Ok);
    ASSERT_TRUE(root.firstChild->StripToText());
    EXPECT_EQ(ChildCount(root), 1);
    EXPECT_EQ(Lines(root.firstChild->body), (std::vector<std::string>{"a\r\n"}));
    EXPECT_EQ(MimePart::partCount, -1);
}

} // namespace
