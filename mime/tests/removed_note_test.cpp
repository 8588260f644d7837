// The note a stripped message keeps of the parts it lost: the part's type and
// name exactly as its own header writes them, its decoded size, the file it
// was saved as, folded to lines under 78 bytes, with the body untouched.

#include <string>
#include <vector>

#include "mime/removed_note.h"
#include "mime/strip_message.h"
#include "test_support.h"

namespace {

using RemovedNoteTest = EngineTest;

std::string Note(const char* contentType, const char* disposition, std::uint64_t size, const char* savedAs = nullptr)
{
    RemovedPart part{};
    part.mediaType = "";
    part.contentTypeField = contentType;
    part.dispositionField = disposition;
    part.decodedSize = size;
    part.savedAs = savedAs;
    char* text = FormatRemovedNote(part);
    EXPECT_NE(text, nullptr);
    std::string note = text ? text : "";
    mime::Release(text);
    return note;
}

std::vector<std::string> PhysicalLines(const std::string& field)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < field.size()) {
        std::size_t end = field.find("\r\n", at);
        lines.push_back(field.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string Unfolded(std::string field)
{
    for (std::size_t at; (at = field.find("\r\n ")) != std::string::npos;)
        field.erase(at, 2);
    return field;
}

TEST_F(RemovedNoteTest, EachKindOfNameIsCopiedAsWritten)
{
    // The file name of the disposition comes first; the type keeps its case.
    EXPECT_EQ(Note("Content-Type: Application/PDF; name=\"other.pdf\"\r\n",
                   "Content-Disposition: attachment; filename=\"report.pdf\"\r\n", 123456),
              "X-TlClipsum-Removed: Application/PDF; name=\"report.pdf\"; size=123456\r\n");
    // Encoded words, from the type's name when the disposition has none.
    EXPECT_EQ(Unfolded(Note("Content-Type: application/pdf;\r\n name=\"=?ISO-2022-JP?B?GyRCOGY4K0BRPXEbKEI=?=.pdf\"\r\n",
                            "Content-Disposition: inline\r\n", 10)),
              "X-TlClipsum-Removed: application/pdf; name=\"=?ISO-2022-JP?B?GyRCOGY4K0BRPXEbKEI=?=.pdf\"; size=10\r\n");
    // Extended parameters and their continuations keep their sections.
    EXPECT_EQ(Unfolded(Note("Content-Type: application/octet-stream\r\n",
                            "Content-Disposition: attachment;\r\n filename*0*=UTF-8''%E5%A0%B1%E5%91%8A;\r\n"
                            " filename*1=\".xlsx\"\r\n",
                            7)),
              "X-TlClipsum-Removed: application/octet-stream; name*0*=UTF-8''%E5%A0%B1%E5%91%8A; name*1=\".xlsx\"; "
              "size=7\r\n");
    EXPECT_EQ(Note(nullptr, nullptr, 3), "X-TlClipsum-Removed: text/plain; size=3\r\n");
    // "filenames" is another parameter; a quoted ";" does not end the value.
    EXPECT_EQ(Note("Content-Type: image/png\r\n", "Content-Disposition: attachment; filenames=x; filename=\"a;b.png\"\r\n", 1),
              "X-TlClipsum-Removed: image/png; name=\"a;b.png\"; size=1\r\n");
}

TEST_F(RemovedNoteTest, TheSavedFileIsNamedInPlainOrExtendedForm)
{
    EXPECT_EQ(Note("Content-Type: image/png\r\n", nullptr, 5, "photo (2).png"),
              "X-TlClipsum-Removed: image/png; size=5; saved=\"photo (2).png\"\r\n");
    EXPECT_EQ(Note("Content-Type: image/png\r\n", nullptr, 5, "\xE5\x86\x99\xE7\x9C\x9F.png"),
              "X-TlClipsum-Removed: image/png; size=5; saved*=UTF-8''%E5%86%99%E7%9C%9F.png\r\n");
}

TEST_F(RemovedNoteTest, LongFieldsAreFoldedAtBlanksUnder78Bytes)
{
    const std::string name = "\"=?UTF-8?B?5aCx5ZGK5pu4X+esrOS4gOWbm+WNiuacnw==?= "
                             "=?UTF-8?B?44Gu44G+44Go44KB44Gu5LiA6Kan6KGo44Gn44GZ44CC?= "
                             "=?UTF-8?B?5pyA57WC54mI?=.xlsx\"";
    const std::string note =
        Note("Content-Type: application/vnd.openxmlformats-officedocument.spreadsheetml.sheet\r\n",
             ("Content-Disposition: attachment; filename=" + name + "\r\n").c_str(), 1234567, "long name.xlsx");
    for (const std::string& line : PhysicalLines(note))
        EXPECT_LT(line.size(), 78u) << line;
    EXPECT_GT(PhysicalLines(note).size(), 3u);
    EXPECT_EQ(Unfolded(note), "X-TlClipsum-Removed: application/vnd.openxmlformats-officedocument.spreadsheetml.sheet; "
                              "name=" + name + "; size=1234567; saved=\"long name.xlsx\"\r\n");
}

const std::string kMessage = Crlf({"From: a@example.com",
                                   "Subject: files",
                                   "MIME-Version: 1.0",
                                   "Content-Type: multipart/mixed; boundary=b",
                                   "X-Mailer: test",
                                   "",
                                   "--b",
                                   "Content-Type: text/plain; charset=utf-8",
                                   "Content-Transfer-Encoding: quoted-printable",
                                   "",
                                   "caf=C3=A9",
                                   "",
                                   "--b",
                                   "Content-Type: application/pdf; name=\"a.pdf\"",
                                   "Content-Transfer-Encoding: base64",
                                   "",
                                   "JVBERi0xLjQK",
                                   "--b",
                                   "Content-Type: text/csv",
                                   "Content-Disposition: attachment; filename=list.csv",
                                   "",
                                   "a,b",
                                   "1,2",
                                   "--b--"});

TEST_F(RemovedNoteTest, TheNoteFollowsTheContentFieldsAndTheBodyStaysByteForByte)
{
    MessageStripper stripper(PartListing::RemovedWithSizes);
    ASSERT_EQ(stripper.Parse(kMessage.c_str()), StripStatus::Ok);
    ASSERT_EQ(stripper.RemovedPartCount(), 2u);
    EXPECT_EQ(stripper.RemovedPartAt(0).decodedSize, 9u) << "%PDF-1.4 and a line feed";
    EXPECT_EQ(stripper.RemovedPartAt(1).decodedSize, 8u) << "two lines, the break before the delimiter not counted";
    EXPECT_EQ(stripper.RemovedPartAt(0).body, nullptr) << "bodies are kept only when asked";
    ASSERT_TRUE(stripper.SetSavedAs(1, "list.csv"));
    ASSERT_EQ(stripper.Reduce(RemovedNote::Fields), StripStatus::Ok);
    EXPECT_EQ(std::string(stripper.NewSource(), stripper.NewLength()),
              Crlf({"From: a@example.com", "Subject: files", "MIME-Version: 1.0",
                    "Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable",
                    "X-TlClipsum-Removed: application/pdf; name=\"a.pdf\"; size=9",
                    "X-TlClipsum-Removed: text/csv; name=list.csv; size=8; saved=\"list.csv\"", "X-Mailer: test", "",
                    "caf=C3=A9"}));

    // Without the note, the same message comes out as it always has.
    MessageStripper plain;
    ASSERT_EQ(plain.Parse(kMessage.c_str()), StripStatus::Ok);
    ASSERT_EQ(plain.Reduce(), StripStatus::Ok);
    EXPECT_EQ(std::string(plain.NewSource(), plain.NewLength()),
              Crlf({"From: a@example.com", "Subject: files", "MIME-Version: 1.0",
                    "Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable",
                    "X-Mailer: test", "", "caf=C3=A9"}));
}

TEST_F(RemovedNoteTest, BodiesAreKeptUntilTheReductionWhenAsked)
{
    MessageStripper stripper(PartListing::RemovedWithBodies);
    ASSERT_EQ(stripper.Parse(kMessage.c_str()), StripStatus::Ok);
    ASSERT_EQ(stripper.RemovedPartCount(), 2u);
    ASSERT_NE(stripper.RemovedPartAt(1).body, nullptr);
    EXPECT_EQ(Lines(*stripper.RemovedPartAt(1).body), (std::vector<std::string>{"a,b\r\n", "1,2\r\n"}));
    EXPECT_STREQ(stripper.RemovedPartAt(0).encodingField, "Content-Transfer-Encoding: base64\r\n");
    ASSERT_EQ(stripper.Reduce(), StripStatus::Ok);
    EXPECT_EQ(stripper.RemovedPartAt(1).body, nullptr);
}

} // namespace
