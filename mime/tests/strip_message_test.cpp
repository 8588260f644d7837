#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "mime/strip_message.h"
#include "test_support.h"

namespace {

using StripMessageTest = EngineTest;

struct Outcome {
    StripStatus status;
    std::string source;
};

Outcome Strip(const std::string& message)
{
    MessageStripper stripper;
    StripStatus status = stripper.Parse(message.c_str());
    if (status == StripStatus::Ok)
        status = stripper.Reduce();
    if (status != StripStatus::Ok) {
        EXPECT_EQ(stripper.NewSource(), nullptr);
        return {status, {}};
    }
    EXPECT_EQ(std::strlen(stripper.NewSource()), stripper.NewLength());
    return {status, std::string(stripper.NewSource(), stripper.NewLength())};
}

const char kMixedHeader[] = "Content-Type: multipart/mixed; boundary=b";

const std::string kMessage = Crlf({"From: sender@example.com",
                                   "Subject: =?ISO-2022-JP?B?GyRCJD0kbBsoQg==?=",
                                   "MIME-Version: 1.0",
                                   "Content-Type: multipart/mixed;",
                                   "\tboundary=\"----=_outer\"",
                                   "Content-Transfer-Encoding: 7bit",
                                   "",
                                   "This is a multi-part message in MIME format.",
                                   "",
                                   "------=_outer",
                                   "Content-Type: multipart/alternative; boundary=inner",
                                   "",
                                   "--inner",
                                   "Content-Transfer-Encoding: base64",
                                   "Content-Type: text/plain; charset=ISO-2022-JP",
                                   "",
                                   "GyRCJDMkcyRLJEEkTxsoQg==",
                                   "",
                                   "--inner",
                                   "Content-Type: text/html",
                                   "",
                                   "<p>html</p>",
                                   "--inner--",
                                   "",
                                   "------=_outer",
                                   "Content-Type: application/octet-stream; name=\"a.bin\"",
                                   "Content-Disposition: attachment",
                                   "",
                                   "AAECAwQFBgcICQ==",
                                   "------=_outer--",
                                   ""});

const std::string kStripped =
    Crlf({"From: sender@example.com", "Subject: =?ISO-2022-JP?B?GyRCJD0kbBsoQg==?=", "MIME-Version: 1.0",
          "Content-Transfer-Encoding: base64", "Content-Type: text/plain; charset=ISO-2022-JP", "",
          "GyRCJDMkcyRLJEEkTxsoQg=="});

TEST_F(StripMessageTest, AMultipartMessageIsReducedToItsText)
{
    MessageStripper stripper;
    ASSERT_EQ(stripper.Parse(kMessage.c_str()), StripStatus::Ok);
    EXPECT_EQ(stripper.NoticeCaption(), nullptr);
    EXPECT_FALSE(stripper.HeaderContains("Content-Type: text/html"));
    EXPECT_TRUE(stripper.HeaderContains("boundary=\"----=_outer\""));
    EXPECT_EQ(stripper.NewSource(), nullptr);
    ASSERT_EQ(stripper.Reduce(), StripStatus::Ok);
    EXPECT_EQ(std::string(stripper.NewSource(), stripper.NewLength()), kStripped);
    EXPECT_EQ(stripper.Reduce(), StripStatus::Ok);
    EXPECT_EQ(std::string(stripper.NewSource()), kStripped);
}

// The reduction of a tree that holds every body line.
std::string ReducedInFull(const std::string& message)
{
    MimePart root;
    EXPECT_EQ(ParseText(root, message), StripStatus::Ok);
    EXPECT_TRUE(root.StripToText());
    return SerializeText(root);
}

TEST_F(StripMessageTest, BodiesThatNoReductionReachesAreNotStored)
{
    const std::string message = Crlf({kMixedHeader,
                                      "",
                                      "preamble",
                                      "--b",
                                      "Content-Type: image/png",
                                      "",
                                      "first child",
                                      "--b",
                                      "Content-Type: application/pdf",
                                      "",
                                      "never chosen",
                                      "--b",
                                      "Content-Type: text/plain",
                                      "",
                                      "text",
                                      "--b",
                                      "Content-Type: multipart/alternative; boundary=a",
                                      "",
                                      "inner preamble",
                                      "--a",
                                      "",
                                      "inner first",
                                      "--a",
                                      "Content-Type: text/html",
                                      "",
                                      "inner second",
                                      "--a--",
                                      "--b--"});
    MimePart root;
    const char* cursor = message.c_str();
    ASSERT_EQ(root.Parse(cursor, nullptr, BodyLines::ForReduction), StripStatus::Ok);
    std::vector<std::vector<std::string>> bodies;
    for (const MimePart* child = root.firstChild; child; child = child->next)
        bodies.push_back(Lines(child->body));
    EXPECT_EQ(bodies,
              (std::vector<std::vector<std::string>>{{"first child\r\n"}, {}, {"text\r\n"}, {"inner preamble\r\n"}}));
    const MimePart& alternative = *root.firstChild->next->next->next;
    EXPECT_EQ(Lines(alternative.firstChild->body), (std::vector<std::string>{"inner first\r\n"}));
    EXPECT_EQ(alternative.firstChild->next->body.head, nullptr);
    EXPECT_EQ(Lines(root.body), (std::vector<std::string>{"preamble\r\n"}));
}

TEST_F(StripMessageTest, LeavingThoseBodiesOutChangesNoResult)
{
    const std::vector<std::string> attachment = {"Content-Type: application/pdf", "", "JVBERi0="};
    const std::vector<std::string> text = {"Content-Type: text/plain", "", "words", ""};
    const std::vector<std::string> alternative = {"Content-Type: multipart/alternative; boundary=a",
                                                  "",
                                                  "alt preamble",
                                                  "--a",
                                                  "Content-Type: text/html",
                                                  "",
                                                  "<p>",
                                                  "--a",
                                                  "Content-Type: text/plain",
                                                  "",
                                                  "alt words",
                                                  "--a--"};
    const std::vector<std::string> emptyText = {"Content-Type: text/plain", ""};
    auto message = [](const std::vector<std::vector<std::string>>& parts) {
        std::string source = Crlf({kMixedHeader, "", "preamble"});
        for (const auto& part : parts)
            source += "--b\r\n" + Crlf(part);
        return source + "--b--\r\n";
    };
    const std::vector<std::vector<std::vector<std::string>>> layouts = {
        {text, attachment},        {attachment, text},      {attachment, attachment}, {attachment, alternative},
        {alternative, attachment}, {emptyText, attachment}, {attachment, emptyText},  {{"", "no type"}, attachment},
    };
    for (const auto& layout : layouts) {
        const std::string source = message(layout);
        const Outcome outcome = Strip(source);
        ASSERT_EQ(outcome.status, StripStatus::Ok) << source;
        EXPECT_EQ(outcome.source, ReducedInFull(source)) << source;
    }
    EXPECT_EQ(Strip(kMessage).source, ReducedInFull(kMessage));
}

TEST_F(StripMessageTest, TheHtmlTestIsCaseSensitiveAndLooksAtTheMessageHeaderOnly)
{
    MessageStripper stripper;
    ASSERT_EQ(stripper.Parse(Crlf({"Content-Type: text/html; boundary=b", "", "--b", "", "x", "--b--"}).c_str()),
              StripStatus::Ok);
    EXPECT_TRUE(stripper.HeaderContains("Content-Type: text/html"));
    MessageStripper lower;
    ASSERT_EQ(lower.Parse(Crlf({"content-type: text/html; boundary=b", "", "--b", "", "x"}).c_str()), StripStatus::Ok);
    EXPECT_FALSE(lower.HeaderContains("Content-Type: text/html"));
}

TEST_F(StripMessageTest, ASinglePartMessageIsLeftAloneWithTheCaptionForItsNotice)
{
    struct Case {
        std::string source;
        const char* caption; // null: the default caption
    };
    const Case cases[] = {
        {Crlf({"From: a", "Subject: Hello", "", "body"}), " Hello\r\n"},
        {Crlf({"From: a", "SUBJECT: Hello", "", "body"}), nullptr},
        {Crlf({"Subject: first", "Subject: second", ""}), " first\r\n"},
        // Without a blank line the last header line is not searched.
        {Crlf({"From: a", "Subject: Hello"}), nullptr},
        // A header of at most one line: the caption is what the parse left unread.
        {"", ""},
        {"Subject: only\r\n", ""},
    };
    for (const Case& c : cases) {
        MessageStripper stripper;
        ASSERT_EQ(stripper.Parse(c.source.c_str()), StripStatus::NotMultipart) << c.source;
        if (c.caption) {
            ASSERT_NE(stripper.NoticeCaption(), nullptr) << c.source;
            EXPECT_STREQ(stripper.NoticeCaption(), c.caption) << c.source;
        } else {
            EXPECT_EQ(stripper.NoticeCaption(), nullptr) << c.source;
        }
        EXPECT_EQ(stripper.Reduce(), StripStatus::NotMultipart);
        EXPECT_EQ(stripper.NewSource(), nullptr);
    }
    MessageStripper none;
    EXPECT_EQ(none.Parse(nullptr), StripStatus::NotMultipart);
    EXPECT_EQ(none.NoticeCaption(), nullptr);
    EXPECT_FALSE(none.HeaderContains("x"));
}

TEST_F(StripMessageTest, EveryParseStartsFromAFreshPartCount)
{
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Strip(kMessage).status, StripStatus::Ok);
        EXPECT_EQ(MimePart::partCount, -1);
        EXPECT_EQ(Strip("Subject: x\r\n\r\nno parts\r\n").status, StripStatus::NotMultipart);
        EXPECT_EQ(MimePart::partCount, -1);
    }
}

// The multipart test is decided from the stripper's own tree: a second
// stripper, alive at the same time, does not make a single-part message look
// multipart (its body would be wiped).
TEST_F(StripMessageTest, AnotherTreeAliveDoesNotMakeASinglePartMessageMultipart)
{
    MessageStripper first;
    ASSERT_EQ(first.Parse(kMessage.c_str()), StripStatus::Ok);
    ASSERT_GE(MimePart::partCount, 0);
    const std::string single = "Subject: x\r\n\r\nno parts\r\n";
    MessageStripper second;
    EXPECT_EQ(second.Parse(single.c_str()), StripStatus::NotMultipart);
    EXPECT_EQ(second.Reduce(), StripStatus::NotMultipart);
    EXPECT_EQ(second.NewSource(), nullptr);
    EXPECT_EQ(first.Reduce(), StripStatus::Ok);
}

TEST_F(StripMessageTest, TheDroppedPartsAreListedInTheOrderOfTheMessage)
{
    MessageStripper unlisted;
    ASSERT_EQ(unlisted.Parse(kMessage.c_str()), StripStatus::Ok);
    ASSERT_EQ(unlisted.Reduce(), StripStatus::Ok);
    EXPECT_EQ(unlisted.RemovedPartCount(), 0u) << "listing is asked for";

    MessageStripper stripper(PartListing::Removed);
    ASSERT_EQ(stripper.Parse(kMessage.c_str()), StripStatus::Ok);
    ASSERT_EQ(stripper.Reduce(), StripStatus::Ok);
    ASSERT_EQ(stripper.RemovedPartCount(), 2u);
    const RemovedPart& html = stripper.RemovedPartAt(0);
    EXPECT_STREQ(html.mediaType, "text/html");
    EXPECT_STREQ(html.contentTypeField, "Content-Type: text/html\r\n");
    EXPECT_EQ(html.dispositionField, nullptr);
    const RemovedPart& file = stripper.RemovedPartAt(1);
    EXPECT_STREQ(file.mediaType, "application/octet-stream");
    EXPECT_STREQ(file.contentTypeField, "Content-Type: application/octet-stream; name=\"a.bin\"\r\n");
    EXPECT_STREQ(file.dispositionField, "Content-Disposition: attachment\r\n");

    MessageStripper untyped(PartListing::Removed);
    const std::string message =
        Crlf({kMixedHeader, "", "--b", "Content-Type: text/plain", "", "t", "--b", "X-Note: none", "", "x", "--b--"});
    ASSERT_EQ(untyped.Parse(message.c_str()), StripStatus::Ok);
    ASSERT_EQ(untyped.Reduce(), StripStatus::Ok);
    ASSERT_EQ(untyped.RemovedPartCount(), 1u);
    EXPECT_STREQ(untyped.RemovedPartAt(0).mediaType, "");
    EXPECT_EQ(untyped.RemovedPartAt(0).contentTypeField, nullptr);

    // The text is chosen from a later part: what stood before it is listed first.
    MessageStripper later(PartListing::Removed);
    const std::string photoFirst = Crlf({kMixedHeader, "", "--b", "Content-Type: image/png", "", "p", "--b",
                                         "Content-Type: multipart/alternative; boundary=\"a\"", "", "--a",
                                         "Content-Type: text/plain", "", "t", "--a", "Content-Type: text/html", "",
                                         "h", "--a--", "--b", "Content-Type: application/pdf", "", "f", "--b--"});
    ASSERT_EQ(later.Parse(photoFirst.c_str()), StripStatus::Ok);
    ASSERT_EQ(later.RemovedPartCount(), 3u);
    EXPECT_STREQ(later.RemovedPartAt(0).mediaType, "image/png");
    EXPECT_STREQ(later.RemovedPartAt(1).mediaType, "text/html");
    EXPECT_STREQ(later.RemovedPartAt(2).mediaType, "application/pdf");
}

TEST_F(StripMessageTest, AttachmentsAreMarkedOnesAndPartsThatAreNotTextMultipartOrAReport)
{
    const auto hasAttachment = [](const std::vector<std::string>& parts) {
        std::string message = std::string(kMixedHeader) + "\r\n\r\n";
        for (const std::string& part : parts)
            message += "--b\r\n" + part + "\r\n\r\nx\r\n";
        message += "--b--\r\n";
        MessageStripper stripper;
        EXPECT_EQ(stripper.Parse(message.c_str()), StripStatus::Ok);
        return stripper.HasAttachment();
    };
    EXPECT_FALSE(hasAttachment({"Content-Type: text/plain", "Content-Type: text/html"}));
    EXPECT_FALSE(hasAttachment({"Content-Type: text/plain", "Content-Type: message/delivery-status"}));
    EXPECT_FALSE(hasAttachment({"X-Note: a part without Content-Type is text"}));
    EXPECT_TRUE(hasAttachment({"Content-Type: text/plain", "Content-Type: IMAGE/PNG"}));
    EXPECT_TRUE(hasAttachment({"Content-Type: text/plain", "Content-Type: message/rfc822"}));
    EXPECT_TRUE(hasAttachment({"Content-Type: text/plain", "Content-Type: text/plain\r\nContent-Disposition:  ATTACHMENT"}));
    EXPECT_FALSE(hasAttachment({"Content-Type: text/plain\r\nContent-Disposition: inline; filename=attachment.txt"}));
}

// What a caller sees of one strip: the answers after the parse, the listing
// (type, fields and size of each dropped part, in its order) and the result.
struct Seen {
    StripStatus parsed;
    bool hasHtmlPart;
    bool hasAttachment;
    std::vector<std::string> listing;
    StripStatus reduced;
    std::string source;

    bool operator==(const Seen& other) const
    {
        return parsed == other.parsed && hasHtmlPart == other.hasHtmlPart && hasAttachment == other.hasAttachment &&
               listing == other.listing && reduced == other.reduced && source == other.source;
    }
};

// reads: empty for the whole text, else the sizes of the reads (window 16).
Seen See(const std::string& message, PartListing listing, const std::vector<std::size_t>& reads = {})
{
    MessageStripper stripper(listing);
    Seen seen{};
    if (reads.empty()) {
        seen.parsed = stripper.Parse(message.c_str());
    } else {
        PiecesSource source(message, reads);
        seen.parsed = stripper.Parse(source, 16);
    }
    if (seen.parsed != StripStatus::Ok)
        return seen;
    seen.hasHtmlPart = stripper.HasHtmlPart();
    seen.hasAttachment = stripper.HasAttachment();
    const auto text = [](const char* field) { return field ? std::string(field) : std::string("-"); };
    for (std::size_t i = 0; i < stripper.RemovedPartCount(); ++i) {
        const RemovedPart& part = stripper.RemovedPartAt(i);
        seen.listing.push_back(text(part.mediaType) + "|" + text(part.contentTypeField) + "|" +
                               text(part.dispositionField) + "|" + text(part.encodingField) + "|" +
                               std::to_string(part.decodedSize));
    }
    seen.reduced = stripper.Reduce(listing == PartListing::RemovedWithSizes ? RemovedNote::Fields : RemovedNote::None);
    if (seen.reduced == StripStatus::Ok)
        seen.source.assign(stripper.NewSource(), stripper.NewLength());
    return seen;
}

std::string Part(const std::string& header, const std::string& body)
{
    return header + "\r\n\r\n" + body + "\r\n";
}

std::string Multipart(const std::string& subtype, const std::string& boundary, const std::vector<std::string>& parts)
{
    std::string text = "Content-Type: multipart/" + subtype + "; boundary=" + boundary + "\r\n\r\n";
    for (const std::string& part : parts)
        text += "--" + boundary + "\r\n" + part;
    return text + "--" + boundary + "--\r\n";
}

// Read in pieces, the parts the reduction can never choose are freed as soon
// as they are parsed; what a caller is told must not change by it.
TEST_F(StripMessageTest, ReadInPiecesAMessageIsJudgedListedAndStrippedAsWhenGivenWhole)
{
    const std::string text = Part("Content-Type: text/plain", "words");
    const std::string html = Part("Content-Type: text/html", "<p>words</p>");
    const std::string png = Part("Content-Type: image/png; name=\"a.png\"\r\nContent-Transfer-Encoding: base64",
                                 "iVBORw0KGgo=");
    const std::string pdf = Part("Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=b.pdf",
                                 "%PDF");
    const std::string textFile = Part("Content-Type: text/plain\r\nContent-Disposition: attachment", "file");
    const std::string untyped = Part("X-Note: no type", "plain by default");
    const std::vector<std::string> messages = {
        // Parts freed inside a part that is freed later.
        Multipart("mixed", "m",
                  {Multipart("alternative", "a", {text, Multipart("related", "r", {html, png, png})}), pdf}),
        // The text is not in the first part: the chosen part is listed first.
        Multipart("mixed", "m", {png, Multipart("alternative", "a", {text, html, png}), textFile, pdf}),
        // Only a text attachment, then text further on, then nothing but files.
        Multipart("mixed", "m", {textFile, png, Multipart("mixed", "n", {pdf, text, png}), html, untyped}),
        // Only text attachments, after other files: the first of them is kept.
        Multipart("mixed", "m", {png, pdf, Multipart("mixed", "n", {png, textFile}), textFile, png}),
        // No text at all: the first part is kept.
        Multipart("mixed", "m", {png, pdf, Multipart("related", "r", {html, png}), png}),
        // Encrypted parts where they are freed.
        Multipart("mixed", "m",
                  {text, png,
                   Multipart("encrypted", "e", {Part("Content-Type: application/pgp-encrypted", "V"), pdf})}),
        Multipart("mixed", "m",
                  {text, Multipart("mixed", "n", {pdf, Part("Content-Type: application/pkcs7-mime", "x")})}),
        // HTML and attachments only in parts that are freed.
        Multipart("mixed", "m", {text, Multipart("alternative", "a", {untyped, html})}),
        Multipart("alternative", "a", {text, html, Part("Content-Type: text/plain", "footer")}),
        // Digest entries without a type are messages, not text.
        Multipart("digest", "d", {Part("From: a", "one"), Part("From: b", "two"), text, Part("From: c", "three")}),
    };
    for (const std::string& message : messages) {
        for (PartListing listing : {PartListing::None, PartListing::Removed, PartListing::RemovedWithSizes}) {
            const Seen whole = See(message, listing);
            ASSERT_NE(whole.parsed, StripStatus::NotMultipart) << message;
            for (const std::vector<std::size_t>& reads : {std::vector<std::size_t>{1}, {7}, {100, 3}})
                EXPECT_TRUE(See(message, listing, reads) == whole) << message;
        }
    }
    // Each allocation of a parse in pieces that frees parts, failed in turn.
    for (const std::string& message : messages) {
        const Seen whole = See(message, PartListing::RemovedWithSizes, {7});
        for (long which = 1;; ++which) {
            Seen seen{};
            {
                FailingAllocations failing(which);
                seen = See(message, PartListing::RemovedWithSizes, {7});
                if (FailingAllocations::Made() < which) {
                    EXPECT_TRUE(seen == whole) << message;
                    break;
                }
            }
            ASSERT_EQ(mime::LiveBlocks(), 0u) << "allocation " << which;
            ASSERT_TRUE(seen.parsed == StripStatus::OutOfMemory || seen.reduced == StripStatus::OutOfMemory)
                << "allocation " << which;
        }
    }
}

// Hands out a message with the text first and then count attachments, made
// as it is read.
class ManyAttachments : public ByteSource {
public:
    explicit ManyAttachments(int count) : left_(count) { text_ = Crlf({kMixedHeader, "", "--b", "", "words"}); }

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override
    {
        got = 0;
        while (got < capacity) {
            if (at_ == text_.size()) {
                if (left_ < 0)
                    return true;
                text_ = left_-- > 0 ? Crlf({"--b", "Content-Type: application/octet-stream; name=\"" +
                                                        std::to_string(left_) + ".bin\"",
                                            "Content-Disposition: attachment", "Content-Transfer-Encoding: base64", "",
                                            "AAAA"})
                                    : "--b--\r\n";
                at_ = 0;
            }
            const std::size_t n = std::min(capacity - got, text_.size() - at_);
            std::memcpy(buffer + got, text_.data() + at_, n);
            got += n;
            at_ += n;
        }
        return true;
    }

private:
    std::string text_;
    std::size_t at_ = 0;
    int left_;
};

TEST_F(StripMessageTest, ReadInPiecesTheMemoryOfAParseDoesNotGrowWithThePartsDropped)
{
    struct Held {
        std::size_t blocks;
        std::size_t bytes;
        std::size_t peak;
    };
    const auto parse = [](int attachments) {
        ManyAttachments source(attachments);
        mime::ResetPeakBytes();
        MessageStripper stripper;
        EXPECT_EQ(stripper.Parse(source), StripStatus::Ok);
        EXPECT_TRUE(stripper.HasAttachment());
        const Held held{mime::LiveBlocks(), mime::LiveBytes(), mime::PeakBytes()};
        EXPECT_EQ(stripper.Reduce(), StripStatus::Ok);
        EXPECT_EQ(std::string(stripper.NewSource(), stripper.NewLength()), Crlf({"", "words"}));
        return held;
    };
    const Held few = parse(2000);
    const Held many = parse(20000);
    EXPECT_EQ(many.blocks, few.blocks);
    EXPECT_EQ(many.bytes, few.bytes);
    EXPECT_EQ(many.peak, few.peak);

    // A listing costs what it lists (and a block's worth of room), nothing of the parts.
    ManyAttachments source(20000);
    MessageStripper listed(PartListing::Removed);
    ASSERT_EQ(listed.Parse(source), StripStatus::Ok);
    ASSERT_EQ(listed.RemovedPartCount(), 20000u);
    EXPECT_STREQ(listed.RemovedPartAt(0).contentTypeField,
                 "Content-Type: application/octet-stream; name=\"19999.bin\"\r\n");
    std::size_t texts = 0;
    for (std::size_t i = 0; i < listed.RemovedPartCount(); ++i) {
        const RemovedPart& part = listed.RemovedPartAt(i);
        for (const char* text : {part.mediaType, part.contentTypeField, part.dispositionField, part.encodingField})
            texts += (text ? std::strlen(text) : 0) + 1;
        texts += sizeof part + sizeof part.decodedSize;
    }
    EXPECT_LE(mime::LiveBytes(), few.bytes + texts + 65536);
}

// Stress: sizes that would break a naive engine, each checked for its outcome.
// They run on a stack of 1 MiB, the default of a Windows thread such as the host's.
void RunOnSmallStack(const std::function<void()>& work)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 1 << 20);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST_F(StripMessageTest, AHundredThousandSiblings)
{
    std::string message =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nkept\r\n";
    for (int i = 1; i < 100000; ++i)
        message += "--b\r\n\r\n" + std::to_string(i) + "\r\n";
    RunOnSmallStack([&] {
        {
            MessageStripper parsedOnly;
            ASSERT_EQ(parsedOnly.Parse(message.c_str()), StripStatus::Ok);
            EXPECT_EQ(MimePart::partCount, 99999);
        }
        const Outcome outcome = Strip(message);
        ASSERT_EQ(outcome.status, StripStatus::Ok);
        EXPECT_EQ(outcome.source, "Content-Type: text/plain\r\n\r\nkept\r\n");
    });
}

TEST_F(StripMessageTest, NestingAThousandDeepIsRefused)
{
    std::string message;
    for (int level = 0; level < 1000; ++level) {
        message += "Content-Type: multipart/mixed; boundary=\"" + std::to_string(level) + "=\"\r\n\r\n--" +
                   std::to_string(level) + "=\r\n";
    }
    message += "Content-Type: text/plain\r\n\r\ntext\r\n";
    RunOnSmallStack([&] {
        MessageStripper stripper;
        EXPECT_EQ(stripper.Parse(message.c_str()), StripStatus::TooDeep);
        EXPECT_EQ(stripper.Reduce(), StripStatus::TooDeep);
        EXPECT_EQ(stripper.NewSource(), nullptr);
        EXPECT_EQ(stripper.NoticeCaption(), nullptr);
    });
}

TEST_F(StripMessageTest, ALongLineInTheTextIsKeptWhole)
{
    const std::string longLine(70000, 'w');
    const std::string longHeader = "X-Long: " + std::string(70000, 'h') + "\r\n\t" + std::string(70000, 'f');
    const Outcome outcome =
        Strip(Crlf({longHeader, "Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: text/plain", "",
                    longLine, "--b", "", std::string(70000, 'a'), "--b--"}));
    ASSERT_EQ(outcome.status, StripStatus::Ok);
    EXPECT_EQ(outcome.source, Crlf({longHeader, "Content-Type: text/plain", "", longLine}));
}

// A file that cannot be read is left alone, wherever the error comes before
// the message's close delimiter (nothing after it is needed).
TEST_F(StripMessageTest, AReadErrorEndsTheStripWithNothingBuilt)
{
    for (std::size_t failAt = 0; failAt < kMessage.rfind("------=_outer--"); ++failAt) {
        PiecesSource source(kMessage, {5}, failAt);
        MessageStripper stripper(PartListing::RemovedWithSizes);
        ASSERT_EQ(stripper.Parse(source, 8), StripStatus::ReadFailed) << "error after " << failAt << " bytes";
        EXPECT_EQ(stripper.Reduce(), StripStatus::ReadFailed);
        EXPECT_EQ(stripper.NewSource(), nullptr);
        EXPECT_EQ(stripper.RemovedPartCount(), 0u);
        EXPECT_EQ(mime::LiveBlocks(), 0u);
    }
}

TEST_F(StripMessageTest, LinesLongerThanTheWindowAreKeptWholeOrDroppedUnheld)
{
    const std::string longLine(70000, 'w');
    const std::string longHeader = "X-Long: " + std::string(70000, 'h') + "\r\n\t" + std::string(70000, 'f');
    const std::string message =
        Crlf({longHeader, "Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: text/plain", "",
              longLine, "--b", "Content-Type: image/png", "", std::string(70000, 'a'), "--b " + std::string(70000, ' '),
              "Content-Type: image/png", "", "--b" + std::string(70000, ' ') + "x", "--b--"});
    const Outcome whole = Strip(message);
    ASSERT_EQ(whole.status, StripStatus::Ok);
    EXPECT_EQ(whole.source, Crlf({longHeader, "Content-Type: text/plain", "", longLine}));
    for (std::size_t window : {std::size_t{64}, std::size_t{4096}}) {
        PiecesSource source(message, {1000});
        MessageStripper stripper;
        ASSERT_EQ(stripper.Parse(source, window), StripStatus::Ok);
        ASSERT_EQ(stripper.Reduce(), StripStatus::Ok);
        EXPECT_EQ(std::string(stripper.NewSource(), stripper.NewLength()), whole.source) << "window " << window;
    }
}

// Hands out a message whose attachment is one line of size bytes, made as
// it is read: the test never holds it.
class OneLineAttachment : public ByteSource {
public:
    explicit OneLineAttachment(std::uint64_t size) : size_(size) {}

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override
    {
        got = 0;
        while (got < capacity && part_ < 3) {
            if (part_ == 1) {
                const std::uint64_t left = size_ - at_;
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity - got));
                std::memset(buffer + got, 'Q', n);
                got += n;
                at_ += n;
            } else {
                const std::string& text = part_ == 0 ? head_ : tail_;
                const std::size_t n = std::min(text.size() - static_cast<std::size_t>(at_), capacity - got);
                std::memcpy(buffer + got, text.data() + at_, n);
                got += n;
                at_ += n;
            }
            if (at_ == (part_ == 0 ? head_.size() : part_ == 1 ? size_ : tail_.size())) {
                ++part_;
                at_ = 0;
            }
        }
        return true;
    }

private:
    const std::string head_ = Crlf({kMixedHeader, "Subject: big", "", "--b", "Content-Type: text/plain", "", "words",
                                    "--b", "Content-Type: application/zip", "Content-Transfer-Encoding: base64", ""});
    const std::string tail_ = "\r\n--b--\r\n";
    std::uint64_t size_;
    std::uint64_t at_ = 0;
    int part_ = 0;
};

TEST_F(StripMessageTest, AnAttachmentOnOneGigabyteLineIsReadInBoundedMemory)
{
    const std::uint64_t size = std::uint64_t{1} << 30;
    OneLineAttachment source(size);
    mime::ResetPeakBytes();
    MessageStripper stripper(PartListing::RemovedWithSizes);
    ASSERT_EQ(stripper.Parse(source), StripStatus::Ok);
    ASSERT_EQ(stripper.RemovedPartCount(), 1u);
    EXPECT_EQ(stripper.RemovedPartAt(0).decodedSize, size / 4 * 3);
    ASSERT_EQ(stripper.Reduce(), StripStatus::Ok);
    EXPECT_EQ(std::string(stripper.NewSource(), stripper.NewLength()),
              Crlf({"Content-Type: text/plain", "Subject: big", "", "words"}));
    EXPECT_LT(mime::PeakBytes(), std::size_t{1} << 20);
}

TEST_F(StripMessageTest, AnyFailedAllocationEndsTheStripCleanly)
{
    // A header line longer than the first line buffer takes the paths that grow it.
    const std::string longHeader = "X-Long: " + std::string(70000, 'z') + "\r\n";
    const std::string message = longHeader + kMessage;
    const std::string original = message;
    long which = 1;
    for (;; ++which) {
        Outcome outcome{StripStatus::Ok, {}};
        {
            FailingAllocations failing(which);
            outcome = Strip(message);
        }
        ASSERT_EQ(mime::LiveBlocks(), 0u) << "allocation " << which;
        EXPECT_EQ(MimePart::partCount, -1);
        EXPECT_EQ(message, original);
        if (FailingAllocations::Made() < which) {
            // Every allocation went through: the strip is complete.
            ASSERT_EQ(outcome.status, StripStatus::Ok);
            EXPECT_EQ(outcome.source, longHeader + kStripped);
            break;
        }
        ASSERT_EQ(outcome.status, StripStatus::OutOfMemory) << "allocation " << which;
    }
    EXPECT_GT(which, 40);
}

} // namespace
