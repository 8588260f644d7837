// Stripping one message through the single-message command, with the test
// program as the host: the host calls in order, the bytes handed back, the
// notices shown, and the files on disk.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/plugin_in_host.h"
#include "support/text.h"

namespace {

const std::string kMixed = "From: sender@example.jp\r\n"
                           "Subject: Report\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                           "\r\n"
                           "This is a multi-part message in MIME format.\r\n"
                           "--XYZ\r\n"
                           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                           "Content-Transfer-Encoding: 7bit\r\n"
                           "\r\n"
                           "Hello,\r\n"
                           "the report is attached.\r\n"
                           "\r\n"
                           "--XYZ\r\n"
                           "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
                           "\r\n"
                           "JVBERi0xLjQKJcfsj6IKNSAwIG9iago8PC9MZW5ndGggNiAwIFI+PgpzdHJlYW0K\r\n"
                           "--XYZ--\r\n";

const std::string kMixedStripped = "From: sender@example.jp\r\n"
                                   "Subject: Report\r\n"
                                   "MIME-Version: 1.0\r\n"
                                   "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                   "Content-Transfer-Encoding: 7bit\r\n"
                                   "\r\n"
                                   "Hello,\r\n"
                                   "the report is attached.\r\n";

std::string SinglePart(const std::string& headerLines)
{
    return headerLines + "\r\nJust text.\r\n";
}

// Nested multiparts, each level one part deeper.
std::string NestedMessage(int levels)
{
    std::string header = "Subject: deep\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
    std::string body;
    for (int level = 1; level <= levels; ++level)
        body += "--b" + std::to_string(level - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                std::to_string(level) + "\"\r\n\r\n";
    body += "--b" + std::to_string(levels) + "\r\nContent-Type: text/plain\r\n\r\ntext\r\n";
    return header + body;
}

class StripAttachmentsTest : public PluginInHost {
protected:
    // The caption a message box gets when it is given none, as this platform shows it.
    std::string DefaultCaption()
    {
        Dialogs().Press(IDOK);
        MessageBoxA(nullptr, "probe", nullptr, MB_OK);
        std::string caption = Dialogs().Seen().empty() ? "<none>" : Dialogs().Seen().back().caption;
        Dialogs().Clear();
        return caption;
    }
};

// A host whose answers can be made odd, one function at a time.
class OddHost : public MailboxHost {
public:
    using MailboxHost::MailboxHost;
    bool nullSource = false;
    std::string dataFolder;

    const char* GetSource(const char* mailId) override { return nullSource ? nullptr : MailboxHost::GetSource(mailId); }
    const char* GetDataFolder() override
    {
        return dataFolder.empty() ? MailboxHost::GetDataFolder() : dataFolder.c_str();
    }
};

} // namespace

TEST_F(StripAttachmentsTest, StripsToTheTextPartAndReselectsTheMessage)
{
    LoadWithSettings();
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);

    ASSERT_EQ(1u, Dialogs().Seen().size());
    EXPECT_EQ("Message from TlClipsum", Dialogs().Seen()[0].caption);
    EXPECT_EQ(Notices::ConfirmStrip(), Dialogs().Seen()[0].text);

    EXPECT_EQ(kMixedStripped, ReadMessage(id));
    std::vector<std::string> expected = {"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource", "TLA_SetSource",
                                         "TLA_SetCurrentMail"};
    EXPECT_EQ(expected, CallNames());
    EXPECT_EQ(id, Calls("TLA_GetStatus").at(0).args.at(0));
    EXPECT_EQ(kMixedStripped, Calls("TLA_SetSource").at(0).args.at(1));
    EXPECT_EQ(id, Calls("TLA_SetCurrentMail").at(0).args.at(0));
    EXPECT_TRUE(TrashContents().empty());
}

TEST_F(StripAttachmentsTest, DecliningTheConfirmationAsksTheHostForNothing)
{
    LoadWithSettings("DeleteMsg=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id, IDCANCEL);
    EXPECT_TRUE(CallNames().empty());
    EXPECT_EQ(kMixed, ReadMessage(id));
}

TEST_F(StripAttachmentsTest, WithDeleteMsgTheMessageIsNotReselected)
{
    LoadWithSettings("DeleteMsg=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    std::vector<std::string> expected = {"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource", "TLA_SetSource"};
    EXPECT_EQ(expected, CallNames());
    EXPECT_EQ(kMixedStripped, ReadMessage(id));
}

TEST_F(StripAttachmentsTest, MessagesTheHostDoesNotMarkOrCannotGiveAreLeftSilently)
{
    LoadWithSettings();
    std::string unmarked = WriteMessage("a.eml", kMixed);
    Host().OverrideStatus(unmarked, 0x01 | 0x04);
    StripWithCommand(unmarked);
    EXPECT_EQ((std::vector<std::string>{"TLA_GetCurrentMail", "TLA_GetStatus"}), CallNames());
    EXPECT_EQ(kMixed, ReadMessage(unmarked));
    EXPECT_EQ(1u, Dialogs().Seen().size()) << "only the confirmation";
}

TEST_F(StripAttachmentsTest, ANullSourceEndsSilently)
{
    InstallHost<OddHost>().nullSource = true;
    LoadWithSettings();
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    EXPECT_EQ((std::vector<std::string>{"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource"}), CallNames());
    EXPECT_EQ(1u, Dialogs().Seen().size()) << "only the confirmation";
    EXPECT_EQ(kMixed, ReadMessage(id));
}

TEST_F(StripAttachmentsTest, ASinglePartMessageGetsTheNoticeCaptionedWithItsSubject)
{
    LoadWithSettings();
    const std::string defaultCaption = DefaultCaption();
    struct Case {
        const char* what;
        std::string message;
        std::string caption;
    } cases[] = {
        {"subject with one blank", SinglePart("From: a@example.jp\r\nSubject: Hello\r\n"), " Hello\r\n"},
        {"subject in capitals is not found", SinglePart("SUBJECT: Hello\r\n"), defaultCaption},
        {"folded subject as stored", SinglePart("Subject: one\r\n two\r\nTo: b@example.jp\r\n"), " one\r\n two\r\n"},
        {"empty source", "", ""},
        {"header without blank line, subject last", "From: a@example.jp\r\nSubject: last\r\n", defaultCaption},
        {"one header line: the unread rest", "Subject: only\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dialogs().Clear();
        std::string id = WriteMessage("single.eml", c.message);
        Host().OverrideStatus(id, kStatusHasAttachments);
        Dialogs().Press(IDOK); // the notice
        StripWithCommand(id);
        ASSERT_EQ(2u, Dialogs().Seen().size());
        EXPECT_EQ(Notices::NotMultipart(), Dialogs().Seen()[1].text);
        EXPECT_EQ(c.caption, Dialogs().Seen()[1].caption);
        EXPECT_EQ(c.message, ReadMessage(id));
        EXPECT_TRUE(Calls("TLA_SetSource").empty());
    }
}

TEST_F(StripAttachmentsTest, HtmlMsgOffLeavesAMessageWhoseHeaderDeclaresHtml)
{
    LoadWithSettings("HtmlMsgOff=1\r\n");
    std::string html = kMixed;
    html.insert(0, "X-Original-Content-Type: text/html; charset=UTF-8\r\n");
    std::string id = WriteMessage("html.eml", html);
    StripWithCommand(id);
    EXPECT_EQ((std::vector<std::string>{"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource", "TLA_GetHeader"}),
              CallNames());
    EXPECT_EQ(html, ReadMessage(id));

    std::string lower = kMixed;
    lower.insert(0, "X-Note: content-type: text/html\r\n");
    std::string other = WriteMessage("lower.eml", lower);
    StripWithCommand(other);
    EXPECT_EQ("X-Note: content-type: text/html\r\n" + kMixedStripped, ReadMessage(other));
}

// An HTML mail with an attachment declares its HTML in a part: the header the
// host hands over says multipart/mixed.
TEST_F(StripAttachmentsTest, HtmlMsgOffLeavesAMessageWithAnHtmlPart)
{
    std::string html = kMixed;
    html.replace(html.find("text/plain; charset=ISO-2022-JP"), 31, "TEXT/HTML; charset=UTF-8");

    LoadWithSettings("HtmlMsgOff=1\r\n");
    std::string id = WriteMessage("html.eml", html);
    StripWithCommand(id);
    EXPECT_EQ((std::vector<std::string>{"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource", "TLA_GetHeader"}),
              CallNames());
    EXPECT_EQ(html, ReadMessage(id));
    EXPECT_EQ(1u, Dialogs().Seen().size()) << "only the confirmation is shown";
}

TEST_F(StripAttachmentsTest, WithoutHtmlMsgOffAnHtmlMessageIsStripped)
{
    std::string html = kMixed;
    html.replace(html.find("text/plain; charset=ISO-2022-JP"), 31, "text/html; charset=UTF-8");
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("html.eml", html);
    StripWithCommand(id);
    EXPECT_EQ(1u, Calls("TLA_SetSource").size());
    EXPECT_NE(html, ReadMessage(id));
}

// The text of encrypted mail cannot be told from its other parts: the message
// is left whole, with the notice for messages that cannot be processed, and
// nothing is copied into the trash.
TEST_F(StripAttachmentsTest, EncryptedMailIsLeftWholeWithANoticeAndNoBackup)
{
    const std::string pgp = "From: sender@example.jp\r\n"
                            "Subject: keys\r\n"
                            "MIME-Version: 1.0\r\n"
                            "Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\";\r\n"
                            "\tboundary=\"enc\"\r\n"
                            "\r\n"
                            "--enc\r\n"
                            "Content-Type: application/pgp-encrypted\r\n"
                            "\r\n"
                            "Version: 1\r\n"
                            "\r\n"
                            "--enc\r\n"
                            "Content-Type: application/octet-stream; name=\"encrypted.asc\"\r\n"
                            "\r\n"
                            "-----BEGIN PGP MESSAGE-----\r\n"
                            "hQEMA1234567890ABAQf/\r\n"
                            "-----END PGP MESSAGE-----\r\n"
                            "--enc--\r\n";
    std::string smime = kMixed;
    smime.replace(smime.find("application/pdf; name=\"report.pdf\""), 34,
                  "application/pkcs7-mime; smime-type=enveloped-data; name=\"smime.p7m\"");

    LoadWithSettings("BackUP=1\r\n");
    for (const std::string& message : {pgp, smime}) {
        Dialogs().Clear();
        Log().Clear();
        std::string id = WriteMessage("enc.eml", message);
        Host().OverrideStatus(id, kStatusHasAttachments);
        Dialogs().Press(IDOK);
        StripWithCommand(id);
        ASSERT_EQ(2u, Dialogs().Seen().size());
        EXPECT_EQ("Message from TlClipsum", Dialogs().Seen()[1].caption);
        EXPECT_EQ(Notices::CannotProcess(), Dialogs().Seen()[1].text);
        EXPECT_EQ((std::vector<std::string>{"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource"}), CallNames());
        EXPECT_EQ(message, ReadMessage(id));
        EXPECT_TRUE(TrashContents().empty());
    }
}

TEST_F(StripAttachmentsTest, HtmlMsgOffComesAfterTheMultipartTest)
{
    LoadWithSettings("HtmlMsgOff=1\r\n");
    std::string id = WriteMessage("html.eml", SinglePart("Subject: page\r\nContent-Type: text/html\r\n"));
    Host().OverrideStatus(id, kStatusHasAttachments);
    Dialogs().Press(IDOK);
    StripWithCommand(id);
    ASSERT_EQ(2u, Dialogs().Seen().size());
    EXPECT_EQ(Notices::NotMultipart(), Dialogs().Seen()[1].text);
    EXPECT_TRUE(Calls("TLA_GetHeader").empty());
}

TEST_F(StripAttachmentsTest, BackupCopiesTheUntouchedMessageIntoTrashBeforeReplacingIt)
{
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    std::vector<std::string> expected = {"TLA_GetCurrentMail",       "TLA_GetStatus",     "TLA_GetSource",
                                         "TLA_SetCurrentMail",       "TLA_GetDataFolder", "TLA_GetCurrentMailBox",
                                         "TLA_MoveSelectedMessages", "TLA_SetSource",     "TLA_SetCurrentMail"};
    EXPECT_EQ(expected, CallNames());
    HostCall move = Calls("TLA_MoveSelectedMessages").at(0);
    EXPECT_EQ("Main\\Trash\\", move.args.at(0));
    EXPECT_EQ("1", move.args.at(1));
    EXPECT_EQ(std::vector<std::string>{kMixed}, TrashContents());
    EXPECT_EQ(kMixedStripped, ReadMessage(id));
}

TEST_F(StripAttachmentsTest, AFailedBackupLeavesTheMessageAsItIs)
{
    RemoveDirectoryA(TrashPath().c_str());
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    std::vector<HostCall> notices = Calls("TLA_SetMessageText");
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ("0", notices[0].args.at(0)) << "no window";
    EXPECT_EQ(Notices::BackupFailed(), notices[0].args.at(1));
    EXPECT_TRUE(Calls("TLA_SetSource").empty());
    EXPECT_TRUE(Calls("TLA_MoveSelectedMessages").empty());
    EXPECT_EQ(kMixed, ReadMessage(id));
    EXPECT_EQ(id, Calls("TLA_SetCurrentMail").at(0).args.at(0)) << "the backup made it current first";
}

TEST_F(StripAttachmentsTest, ACopyTheHostDidNotMakeLeavesTheMessageWithTheBackupNotice)
{
    InstallHost<CopyRefusingHost>().refused = {1};
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    std::vector<std::string> expected = {"TLA_GetCurrentMail",       "TLA_GetStatus",     "TLA_GetSource",
                                         "TLA_SetCurrentMail",       "TLA_GetDataFolder", "TLA_GetCurrentMailBox",
                                         "TLA_MoveSelectedMessages", "TLA_SetMessageText"};
    EXPECT_EQ(expected, CallNames());
    EXPECT_EQ("0", Calls("TLA_MoveSelectedMessages").at(0).result);
    HostCall notice = Calls("TLA_SetMessageText").at(0);
    EXPECT_EQ("0", notice.args.at(0)) << "no window";
    EXPECT_EQ(Notices::BackupFailed(), notice.args.at(1));
    EXPECT_EQ(1u, Dialogs().Seen().size()) << "only the confirmation";
    EXPECT_EQ(kMixed, ReadMessage(id));
    EXPECT_TRUE(TrashContents().empty());
}

TEST_F(StripAttachmentsTest, ADiskFillingUpDuringTheBackupLeavesTheMessageAndNoPartialCopy)
{
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    Host().SimulateFullDisk(kMixed.size() / 2);
    StripWithCommand(id);
    EXPECT_EQ(Notices::BackupFailed(), Calls("TLA_SetMessageText").at(0).args.at(1));
    EXPECT_TRUE(Calls("TLA_SetSource").empty());
    EXPECT_EQ(kMixed, ReadMessage(id));
    EXPECT_TRUE(FilesIn(kTrash).empty());

    Host().SimulateFullDisk(kMixed.size());
    StripWithCommand(id);
    EXPECT_TRUE(Calls("TLA_SetMessageText").empty()) << "room for exactly the message is enough";
    EXPECT_EQ(kMixedStripped, ReadMessage(id));
    EXPECT_EQ(std::vector<std::string>{kMixed}, TrashContents());
}

TEST_F(StripAttachmentsTest, TheTrashFolderIsTheFirstEntryTheSearchYields)
{
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    RemoveDirectoryA(TrashPath().c_str());
    std::string mailbox = MailboxDirectory();
    CreateDirectoryA((mailbox + "OldTrash").c_str(), nullptr);
    CreateDirectoryA((mailbox + "trash").c_str(), nullptr);

    WIN32_FIND_DATAA first;
    HANDLE search = FindFirstFileA((mailbox + "*Trash").c_str(), &first);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    FindClose(search);

    StripWithCommand(id);
    EXPECT_EQ(std::string("Main\\") + first.cFileName + "\\", Calls("TLA_MoveSelectedMessages").at(0).args.at(0));
    EXPECT_EQ(kMixedStripped, ReadMessage(id));
}

// When the search yields a plain file first, the backup fails even though a
// matching folder exists as well.
TEST_F(StripAttachmentsTest, APlainFileYieldedFirstFailsTheBackup)
{
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    std::string mailbox = MailboxDirectory();
    RemoveDirectoryA(TrashPath().c_str());
    // Which of two names the search yields first is the file system's choice:
    // make that one the plain file.
    CreateDirectoryA((mailbox + "ATrash").c_str(), nullptr);
    CreateDirectoryA((mailbox + "BTrash").c_str(), nullptr);
    WIN32_FIND_DATAA first;
    HANDLE search = FindFirstFileA((mailbox + "*Trash").c_str(), &first);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    FindClose(search);
    RemoveDirectoryA((mailbox + first.cFileName).c_str());
    ASSERT_TRUE(WriteWholeFile(mailbox + first.cFileName, "not a folder", 12));

    search = FindFirstFileA((mailbox + "*Trash").c_str(), &first);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    FindClose(search);
    ASSERT_FALSE(first.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) << "the file comes first";

    StripWithCommand(id);
    EXPECT_EQ(Notices::BackupFailed(), Calls("TLA_SetMessageText").at(0).args.at(1));
    EXPECT_TRUE(Calls("TLA_SetSource").empty());
    EXPECT_EQ(kMixed, ReadMessage(id));
}

TEST_F(StripAttachmentsTest, BackupPathsThatWouldNotFitFailTheBackupUncut)
{
    InstallHost<OddHost>().dataFolder = DataFolder() + std::string(250 - DataFolder().size(), 'x');
    LoadWithSettings("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    EXPECT_EQ(Notices::BackupFailed(), Calls("TLA_SetMessageText").at(0).args.at(1));
    EXPECT_TRUE(Calls("TLA_MoveSelectedMessages").empty());
    EXPECT_TRUE(Calls("TLA_SetSource").empty());
    EXPECT_EQ(kMixed, ReadMessage(id));
}

TEST_F(StripAttachmentsTest, AMessageNestedTooDeepIsLeftWithANotice)
{
    LoadWithSettings();
    std::string deep = NestedMessage(100);
    std::string id = WriteMessage("deep.eml", deep);
    Dialogs().Press(IDOK);
    StripWithCommand(id);
    ASSERT_EQ(2u, Dialogs().Seen().size());
    EXPECT_EQ("Message from TlClipsum", Dialogs().Seen()[1].caption);
    EXPECT_EQ(Notices::CannotProcess(), Dialogs().Seen()[1].text);
    EXPECT_TRUE(Calls("TLA_SetSource").empty());
    EXPECT_EQ(deep, ReadMessage(id));

    std::string fine = NestedMessage(10);
    std::string other = WriteMessage("fine.eml", fine);
    StripWithCommand(other);
    EXPECT_EQ(1u, Calls("TLA_SetSource").size()) << "a message within the limit is stripped";
}

// Each call starts afresh: a multipart message stripped before does not make
// the next single-part message look like one.
TEST_F(StripAttachmentsTest, CallsInARowStartAfresh)
{
    LoadWithSettings();
    std::string skipped = WriteMessage("0.eml", kMixed);
    Host().OverrideStatus(skipped, 0);
    StripWithCommand(skipped);
    std::string first = WriteMessage("1.eml", kMixed);
    StripWithCommand(first);
    EXPECT_EQ(kMixedStripped, ReadMessage(first));

    std::string single = WriteMessage("2.eml", SinglePart("Subject: plain\r\n"));
    Host().OverrideStatus(single, kStatusHasAttachments);
    Dialogs().Clear();
    Dialogs().Press(IDOK);
    StripWithCommand(single);
    ASSERT_EQ(2u, Dialogs().Seen().size());
    EXPECT_EQ(Notices::NotMultipart(), Dialogs().Seen()[1].text);
}

TEST_F(StripAttachmentsTest, AFiftyMegabyteMessageIsStrippedInThe32BitProcess)
{
    LoadWithSettings("BackUP=1\r\n");
    std::string big = kMixed.substr(0, kMixed.rfind("--XYZ--"));
    std::string line(76, 'A');
    line += "\r\n";
    big.reserve(52u << 20);
    while (big.size() < (50u << 20))
        big += line;
    big += "--XYZ--\r\n";
    std::string id = WriteMessage("big.eml", big);
    StripWithCommand(id);
    EXPECT_EQ(kMixedStripped, ReadMessage(id));
    std::vector<std::string> trash = TrashContents();
    ASSERT_EQ(1u, trash.size());
    EXPECT_TRUE(trash[0] == big) << "the original, byte for byte";
}
