// Names that dropped parts are saved under: decoded, never a path, never a
// device, never longer than a file system takes, and never empty.

#include <string>

#include "mime/attachment_name.h"
#include "test_support.h"

namespace {

std::string Safe(std::string text)
{
    text.resize(text.size() + 2);
    const std::size_t length = MakeSafeFileName(&text[0], text.size() - 2);
    return text.substr(0, length);
}

std::string NameFor(const char* contentType, const char* disposition, const char* stem = "Weekly report")
{
    RemovedPart part{};
    part.mediaType = "application/pdf";
    part.contentTypeField = contentType;
    part.dispositionField = disposition;
    char out[kMaxAttachmentNameBytes + 1];
    const std::size_t length = AttachmentFileName(part, stem, out, sizeof out);
    EXPECT_EQ(std::strlen(out), length);
    return out;
}

TEST(AttachmentNameTest, NamesThatWouldLeaveTheFolderStayInIt)
{
    EXPECT_EQ(Safe("../../etc/passwd"), "_.._etc_passwd");
    EXPECT_EQ(Safe(".."), "");
    EXPECT_EQ(Safe("/etc/cron.d/x"), "_etc_cron.d_x");
    EXPECT_EQ(Safe("C:\\Windows\\system32\\evil.dll"), "C__Windows_system32_evil.dll");
    EXPECT_EQ(Safe("\\\\server\\share\\f.txt"), "__server_share_f.txt");
    EXPECT_EQ(Safe(".hidden"), "hidden");
    EXPECT_EQ(Safe("name. . "), "name");
}

TEST(AttachmentNameTest, CharactersAndNamesWindowsRefusesAreReplaced)
{
    EXPECT_EQ(Safe("a<b>c:d\"e|f?g*h\tj\x7f.txt"), "a_b_c_d_e_f_g_h_j_.txt");
    EXPECT_EQ(Safe("CON"), "_CON");
    EXPECT_EQ(Safe("nul.txt"), "_nul.txt");
    EXPECT_EQ(Safe("Com1 .log"), "_Com1 .log");
    EXPECT_EQ(Safe("LPT9.tar.gz"), "_LPT9.tar.gz");
    EXPECT_EQ(Safe("console.txt"), "console.txt");
    EXPECT_EQ(Safe("COM10.txt"), "COM10.txt");
    // Bytes that are not UTF-8 never reach a file name.
    EXPECT_EQ(Safe("a\xff\xfe" "b.txt"), "a__b.txt");
}

TEST(AttachmentNameTest, LongNamesAreCutAtACharacterKeepingTheExtension)
{
    std::string japanese;
    for (int i = 0; i < 2000; ++i)
        japanese += "\xE5\xA0\xB1"; // 報
    const std::string cut = Safe(japanese + ".xlsx");
    EXPECT_LE(cut.size(), kMaxAttachmentNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".xlsx");
    EXPECT_EQ((cut.size() - 5) % 3, 0u) << "no character is cut in half";

    const std::string noExtension = Safe(std::string(5000, 'a'));
    EXPECT_EQ(noExtension, std::string(kMaxAttachmentNameBytes, 'a'));
}

TEST(AttachmentNameTest, ThePartsOwnNameIsDecoded)
{
    // RFC 2231 from the disposition wins over the type's encoded-word name.
    EXPECT_EQ(NameFor("Content-Type: application/pdf; name=\"=?UTF-8?B?5Y+k44GE5ZCN?=.pdf\"\r\n",
                      "Content-Disposition: attachment; filename*=UTF-8''%E5%A0%B1%E5%91%8A.pdf\r\n"),
              "\xE5\xA0\xB1\xE5\x91\x8A.pdf");
    EXPECT_EQ(NameFor("Content-Type: application/pdf; name=\"=?ISO-2022-JP?B?GyRCOGY4K0BRPXEbKEI=?=.pdf\"\r\n",
                      nullptr),
              "\xE5\xBE\xA1\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8.pdf"); // 御見積書.pdf
    EXPECT_EQ(NameFor(nullptr, "Content-Disposition: attachment; filename=\"../../../.bashrc\"\r\n"),
              "_.._.._.bashrc");
}

TEST(AttachmentNameTest, APartWithoutANameIsNamedAfterTheMessageAndItsType)
{
    EXPECT_EQ(NameFor("Content-Type: application/pdf\r\n", "Content-Disposition: attachment\r\n"),
              "Weekly report.pdf");
    EXPECT_EQ(NameFor("Content-Type: application/pdf; name=\"\"\r\n", nullptr, "Re: a/b"), "Re_ a_b.pdf");
    EXPECT_EQ(NameFor("Content-Type: application/pdf\r\n", nullptr, "..."), "attachment.pdf");
    EXPECT_EQ(NameFor("Content-Type: application/pdf\r\n", nullptr, nullptr), "attachment.pdf");
    EXPECT_STREQ(ExtensionForType("IMAGE/JPEG"), ".jpg");
    EXPECT_STREQ(ExtensionForType("application/x-unheard-of"), ".bin");
}

TEST(AttachmentNameTest, ATakenNameGetsANumberBeforeItsExtension)
{
    char out[kMaxAttachmentNameBytes + 16];
    NumberedFileName("report.pdf", 2, out, sizeof out);
    EXPECT_STREQ(out, "report (2).pdf");
    NumberedFileName("README", 1, out, sizeof out);
    EXPECT_STREQ(out, "README (1)");
    NumberedFileName("archive.tar.gz", 3, out, sizeof out);
    EXPECT_STREQ(out, "archive.tar (3).gz");
}

} // namespace
