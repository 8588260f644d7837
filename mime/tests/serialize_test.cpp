#include <string>

#include "test_support.h"

namespace {

using SerializeTest = EngineTest;

std::string RoundTrip(const std::string& source)
{
    MimePart root;
    EXPECT_EQ(ParseText(root, source), StripStatus::Ok);
    return SerializeText(root);
}

TEST_F(SerializeTest, AnEmptyPartGivesTheEmptyText)
{
    MimePart part;
    EXPECT_EQ(SerializeText(part), "");
}

TEST_F(SerializeTest, AnUntouchedCrLfMultipartComesBackByteForByte)
{
    const std::string twoParts =
        Crlf({"From: a", "Content-Type: multipart/mixed; boundary=\"b 1\"", "", "preamble", "--b 1",
              "Content-Type: text/plain", "", "hello", "", "--b 1", "Content-Type: image/png",
              "Content-Transfer-Encoding: base64", "", "iVBORw0K", "--b 1--"});
    EXPECT_EQ(RoundTrip(twoParts), twoParts);

    const std::string nested = Crlf({"Content-Type: multipart/mixed; boundary=outer",
                                     "",
                                     "--outer",
                                     "Content-Type: multipart/alternative; boundary=inner",
                                     "",
                                     "--inner",
                                     "Content-Type: text/plain",
                                     "",
                                     "text",
                                     "--inner",
                                     "Content-Type: text/html",
                                     "",
                                     "<p>html</p>",
                                     "--inner--",
                                     "inner epilogue",
                                     "",
                                     "--outer",
                                     "",
                                     "attachment",
                                     "--outer--"});
    EXPECT_EQ(RoundTrip(nested), nested);
}

TEST_F(SerializeTest, LineBreaksComeBackAsCrLf)
{
    EXPECT_EQ(RoundTrip("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\r--b--\n"),
              Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "x", "--b--"}));
}

TEST_F(SerializeTest, WhatFollowsTheClosingDelimiterIsNotPartOfTheTree)
{
    const std::string message = Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "x", "--b--"});
    EXPECT_EQ(RoundTrip(message + "after the end\r\n"), message);
}

TEST_F(SerializeTest, AMissingClosingDelimiterIsAdded)
{
    EXPECT_EQ(RoundTrip(Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "x"})),
              Crlf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "x", "--b--"}));
}

TEST_F(SerializeTest, LinesThatFillTheBufferExactlyStillGetTheirTerminator)
{
    // Stored lengths 65535, 65536 and 65537 straddle the first growth step.
    for (std::size_t length : {65535u, 65536u, 65537u}) {
        const std::string line = "X: " + std::string(length - 5, 'v') + "\r\n";
        EXPECT_EQ(RoundTrip(line), line);
    }
}

TEST_F(SerializeTest, LargeTreesComeBackWhole)
{
    std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int part = 0; part < 300; ++part) {
        message += "--b\r\nContent-Type: application/octet-stream\r\n\r\n";
        for (int line = 0; line < 40; ++line)
            message += std::string(76, static_cast<char>('A' + part % 26)) + "\r\n";
    }
    message += "--b--\r\n";
    EXPECT_EQ(RoundTrip(message), message);
}

} // namespace
