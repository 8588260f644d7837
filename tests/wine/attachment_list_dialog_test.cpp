// The attachment list dialog in the real dialog manager, opened through its
// menu command and driven as a user would.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/plugin_in_host.h"
#include "support/text.h"

namespace {

std::string WithAttachment(const std::string& headerLines, const std::string& text = "Hello\r\n")
{
    return headerLines +
           "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n"
           "\r\n"
           "--=_b\r\n"
           "Content-Type: text/plain\r\n"
           "\r\n" +
           text +
           "\r\n"
           "--=_b\r\n"
           "Content-Type: image/png; name=\"a.png\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "\r\n"
           "iVBORw0KGgo=\r\n"
           "--=_b--\r\n";
}

std::string Stripped(const std::string& headerLines, const std::string& text = "Hello\r\n")
{
    return headerLines + "Content-Type: text/plain\r\n\r\n" + text;
}

std::string PlainText(const std::string& headerLines)
{
    return headerLines + "\r\nNo attachment here.\r\n";
}

struct ListState {
    std::vector<std::string> entries; // code page 932
    std::vector<LRESULT> itemData;
    std::string count;
};

ListState ReadList(HWND dialog)
{
    ListState state;
    state.entries = ListEntryTexts(dialog);
    HWND list = GetDlgItem(dialog, 1000);
    for (size_t i = 0; i < state.entries.size(); ++i)
        state.itemData.push_back(SendMessageA(list, LB_GETITEMDATA, i, 0));
    state.count = WindowTextCp932(GetDlgItem(dialog, 1004));
    return state;
}

class AttachmentListTest : public PluginInHost {
protected:
    // Opens the list through its command; `steps` have been queued on Dialogs().
    void OpenList()
    {
        int command = InitMenu(2);
        ASSERT_NE(0, command);
        ClearLog();
        ASSERT_TRUE(Host().RunCommand(command, nullptr));
        EXPECT_EQ(0u, Dialogs().PendingSteps());
        EXPECT_EQ(0u, Dialogs().ClosedByDriverCount()) << Dialogs().Format();
    }
    void ReadListThen(ListState& state)
    {
        Dialogs().Run("read the list", [&state](HWND dialog) { state = ReadList(dialog); });
    }
};

// A host whose header answers are given by the test.
class HeaderHost : public MailboxHost {
public:
    using MailboxHost::MailboxHost;
    std::string header;
    const char* GetHeader(const char*) override { return header.c_str(); }
};

} // namespace

TEST_F(AttachmentListTest, AFolderWithoutAttachmentsGivesTheNoticeAndCloses)
{
    LoadWithSettings();
    WriteMessage("1.eml", PlainText("Subject: one\r\n"));
    WriteMessage("2.eml", PlainText("Subject: two\r\n"));
    Dialogs().Press(IDOK); // the notice
    OpenList();
    ASSERT_EQ(1u, Dialogs().Seen().size());
    EXPECT_EQ("Message from TlClipsum", Dialogs().Seen()[0].caption);
    EXPECT_EQ(Cp932(u8"添付ファイルは、一つもありません。"), Dialogs().Seen()[0].text);
    std::vector<std::string> expected = {"TLA_GetNextMail", "TLA_GetStatus", "TLA_GetNextMail", "TLA_GetStatus",
                                         "TLA_GetNextMail"};
    EXPECT_EQ(expected, CallNames());
}

TEST_F(AttachmentListTest, ListsMessagesWithAttachmentsBySubjectInFolderOrder)
{
    LoadWithSettings();
    WriteMessage("01.eml", WithAttachment("Subject: First report\r\n"));
    WriteMessage("02.eml", PlainText("Subject: not listed\r\n"));
    WriteMessage("03.eml", WithAttachment("From: a@example.jp\r\n"));
    WriteMessage("04.eml", WithAttachment("Subject:\r\n"));
    WriteMessage("05.eml", WithAttachment("Subject: \r\n"));
    WriteMessage("06.eml", WithAttachment("X-Subject: the other field\r\nSubject: mine\r\n"));
    WriteMessage("07.eml", WithAttachment("Subject: first line\r\n second line\r\n"));
    WriteMessage("08.eml", WithAttachment(Cp932(u8"Subject: 見積書の件\r\n")));
    WriteMessage("09.eml", PlainText("Subject: last, not listed\r\n"));
    WriteMessage("10.eml", WithAttachment("Subject: the last one\r\n"));

    ListState state;
    ReadListThen(state);
    Dialogs().Press(IDCANCEL);
    OpenList();

    std::vector<std::string> expected = {
        " First report",
        Cp932(u8"Err 件名不明1"),
        Cp932(u8"【件名なし[2]】"),
        " ",
        " the other field",
        " first line",
        Cp932(u8" 見積書の件"),
        " the last one",
    };
    EXPECT_EQ(expected, state.entries);
    EXPECT_EQ((std::vector<LRESULT>{0, 2, 3, 4, 5, 6, 7, 9}), state.itemData) << "item data is the host's position";
    EXPECT_EQ("8", state.count);
    EXPECT_TRUE(Calls("TLA_SetSource").empty()) << "Cancel strips nothing";
}

TEST_F(AttachmentListTest, HeadersWithLineFeedsOnlyAndNoLineEnd)
{
    HeaderHost* headers = &InstallHost<HeaderHost>();
    LoadWithSettings();
    WriteMessage("1.eml", WithAttachment("Subject: x\r\n"));
    ListState state;
    const struct {
        std::string header;
        std::string entry;
    } cases[] = {
        {"From: a\nSubject: lf only\nTo: b\n", " lf only"},
        {"From: a\nSubject: no end", Cp932(u8"Err 終端不明0")},
        {"Subject: cr wins\nTo: b\r\n", " cr wins\nTo: b"},
    };
    for (const auto& c : cases) {
        headers->header = c.header;
        ReadListThen(state);
        Dialogs().Press(IDCANCEL);
        OpenList();
        ASSERT_EQ(1u, state.entries.size());
        EXPECT_EQ(c.entry, state.entries[0]);
    }
}

TEST_F(AttachmentListTest, OversizedHeadersAndSubjectsAreBoundedAtCharacterBoundaries)
{
    HeaderHost* headers = &InstallHost<HeaderHost>();
    LoadWithSettings();
    WriteMessage("1.eml", WithAttachment("Subject: x\r\n"));
    ListState state;

    // A subject of 2,000 double-byte characters, one blank before it.
    std::string kanji;
    for (int i = 0; i < 2000; ++i)
        kanji += Cp932(u8"表");
    headers->header = "Subject: " + kanji + "\r\n";
    ReadListThen(state);
    Dialogs().Press(IDCANCEL);
    OpenList();
    ASSERT_EQ(1u, state.entries.size());
    EXPECT_EQ(" " + kanji.substr(0, 1054), state.entries[0]) << "1055 bytes, no half character";

    // A header of 100,000 bytes: the subject lies within what is examined.
    headers->header = "Subject: early\r\n" + std::string(100000, 'x') + "\r\n";
    ReadListThen(state);
    Dialogs().Press(IDCANCEL);
    OpenList();
    EXPECT_EQ(" early", state.entries.at(0));

    // ... or beyond it.
    headers->header = "X-Pad: " + std::string(40000, 'x') + "\r\nSubject: late\r\n";
    ReadListThen(state);
    Dialogs().Press(IDCANCEL);
    OpenList();
    EXPECT_EQ(Cp932(u8"Err 件名不明0"), state.entries.at(0));
}

TEST_F(AttachmentListTest, OkStripsOnlyTheSelectedEntriesInListOrder)
{
    LoadWithSettings();
    std::vector<std::string> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(
            WriteMessage("m" + std::to_string(i) + ".eml", WithAttachment("Subject: m" + std::to_string(i) + "\r\n")));
    std::string untouchedPlain = WriteMessage("p.eml", PlainText("Subject: plain\r\n"));

    Dialogs().Run("select 1 and 3", [](HWND dialog) { SelectListEntries(dialog, {3, 1}); });
    Dialogs().Press(IDOK);
    Dialogs().Press(IDOK); // the confirmation
    OpenList();

    ASSERT_EQ(2u, Dialogs().Seen().size());
    EXPECT_EQ(Cp932(u8"添付ファイルの一括削除をしてもよいですか？"), Dialogs().Seen()[1].text);
    EXPECT_EQ("Message from TlClipsum", Dialogs().Seen()[1].caption);

    std::vector<HostCall> stripped = Calls("TLA_SetSource");
    ASSERT_EQ(2u, stripped.size());
    EXPECT_EQ(ids[1], stripped[0].args.at(0));
    EXPECT_EQ(ids[3], stripped[1].args.at(0));
    for (int i : {0, 2, 4})
        EXPECT_EQ(WithAttachment("Subject: m" + std::to_string(i) + "\r\n"), ReadMessage(ids[i]));
    EXPECT_EQ(Stripped("Subject: m1\r\n"), ReadMessage(ids[1]));
    EXPECT_EQ(Stripped("Subject: m3\r\n"), ReadMessage(ids[3]));
    EXPECT_EQ(PlainText("Subject: plain\r\n"), ReadMessage(untouchedPlain));

    // Each selected entry is fetched again at its position minus one.
    std::vector<HostCall> fetches = Calls("TLA_GetNextMail");
    ASSERT_GE(fetches.size(), 2u);
    EXPECT_EQ("0", fetches[fetches.size() - 2].args.at(0));
    EXPECT_EQ("2", fetches[fetches.size() - 1].args.at(0));
}

TEST_F(AttachmentListTest, ABulkStripLeavesOnlyTheMessageWhoseBackupCopyFailed)
{
    InstallHost<CopyRefusingHost>().refused = {2};
    LoadWithSettings("BackUP=1\r\n");
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(
            WriteMessage("m" + std::to_string(i) + ".eml", WithAttachment("Subject: m" + std::to_string(i) + "\r\n")));

    Dialogs().Run("select all", SelectAllListEntries);
    Dialogs().Press(IDOK);
    Dialogs().Run("clear the log, then confirm", [this](HWND dialog) {
        ClearLog();
        PressButton(dialog, IDOK);
    });
    OpenList();

    const std::vector<std::string> fetchAndBackUp = {
        "TLA_GetNextMail",   "TLA_GetStatus",         "TLA_GetSource",           "TLA_SetCurrentMail",
        "TLA_GetDataFolder", "TLA_GetCurrentMailBox", "TLA_MoveSelectedMessages"};
    std::vector<std::string> expected;
    for (const char* ending : {"TLA_SetSource", "TLA_SetMessageText", "TLA_SetSource"}) {
        expected.insert(expected.end(), fetchAndBackUp.begin(), fetchAndBackUp.end());
        expected.push_back(ending);
        if (std::string(ending) == "TLA_SetSource")
            expected.push_back("TLA_SetCurrentMail");
    }
    EXPECT_EQ(expected, CallNames());

    std::vector<HostCall> stripped = Calls("TLA_SetSource");
    ASSERT_EQ(2u, stripped.size());
    EXPECT_EQ(ids[0], stripped[0].args.at(0));
    EXPECT_EQ(ids[2], stripped[1].args.at(0));
    EXPECT_EQ(Stripped("Subject: m0\r\n"), ReadMessage(ids[0]));
    EXPECT_EQ(WithAttachment("Subject: m1\r\n"), ReadMessage(ids[1]));
    EXPECT_EQ(Stripped("Subject: m2\r\n"), ReadMessage(ids[2]));
    EXPECT_EQ(Notices::BackupFailed(), Calls("TLA_SetMessageText").at(0).args.at(1));
    EXPECT_EQ((std::vector<std::string>{WithAttachment("Subject: m0\r\n"), WithAttachment("Subject: m2\r\n")}),
              TrashContents());
    EXPECT_EQ(2u, Dialogs().Seen().size()) << "the list and the confirmation, nothing more";
}

TEST_F(AttachmentListTest, DecliningTheConfirmationStripsNothing)
{
    LoadWithSettings();
    std::string id = WriteMessage("a.eml", WithAttachment("Subject: a\r\n"));
    Dialogs().Run("select all", SelectAllListEntries);
    Dialogs().Press(IDOK);
    Dialogs().Press(IDCANCEL); // the confirmation
    OpenList();
    EXPECT_TRUE(Calls("TLA_SetSource").empty());
    EXPECT_EQ(WithAttachment("Subject: a\r\n"), ReadMessage(id));
}

TEST_F(AttachmentListTest, WithDeleteMsgOkStripsWithoutAsking)
{
    LoadWithSettings("DeleteMsg=1\r\n");
    std::string id = WriteMessage("a.eml", WithAttachment("Subject: a\r\n"));
    Dialogs().Run("select all", SelectAllListEntries);
    Dialogs().Press(IDOK);
    OpenList();
    EXPECT_EQ(1u, Dialogs().Seen().size()) << "no confirmation";
    EXPECT_EQ(Stripped("Subject: a\r\n"), ReadMessage(id));
}

TEST_F(AttachmentListTest, DoubleClickMakesTheMessageCurrentAndKeepsTheDialogOpen)
{
    LoadWithSettings();
    std::string first = WriteMessage("a.eml", WithAttachment("Subject: a\r\n"));
    WriteMessage("b.eml", PlainText("Subject: b\r\n"));
    std::string third = WriteMessage("c.eml", WithAttachment("Subject: c\r\n"));

    Dialogs().Run("double-click the second entry", [](HWND dialog) { DoubleClickListEntry(dialog, 1); });
    Dialogs().Run("select the first entry too", [](HWND dialog) { SelectListEntries(dialog, {0}); });
    Dialogs().Press(IDOK);
    Dialogs().Press(IDOK);
    OpenList();

    std::vector<HostCall> current = Calls("TLA_SetCurrentMail");
    ASSERT_FALSE(current.empty());
    EXPECT_EQ(third, current[0].args.at(0)) << "the double-click came first";
    EXPECT_EQ(Stripped("Subject: a\r\n"), ReadMessage(first));
}

TEST_F(AttachmentListTest, DoubleClickOnAMessageThatHasGoneDoesNothing)
{
    LoadWithSettings();
    WriteMessage("a.eml", WithAttachment("Subject: a\r\n"));
    WriteMessage("b.eml", WithAttachment("Subject: b\r\n"));
    Dialogs().Run("delete b, then double-click it", [this](HWND dialog) {
        DeleteFileA((InboxPath() + "b.eml").c_str());
        Host().Rescan();
        DoubleClickListEntry(dialog, 1);
    });
    Dialogs().Press(IDCANCEL);
    OpenList();
    EXPECT_TRUE(Calls("TLA_SetCurrentMail").empty());
}

namespace {

// A host that notes the list dialog's caption each time a message source is
// asked for: what the user sees while the strip runs.
class CaptionWatchingHost : public MailboxHost {
public:
    using MailboxHost::MailboxHost;
    HWND dialog = nullptr;
    std::vector<std::string> captions;
    const char* GetSource(const char* mailId) override
    {
        captions.push_back(WindowTextCp932(dialog));
        return MailboxHost::GetSource(mailId);
    }
};

// The longest entry's width in the list box's own font.
int WidestEntryInPixels(HWND list)
{
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const std::string& entry : ReadList(GetParent(list)).entries) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, entry.data(), static_cast<int>(entry.size()), &size);
        widest = size.cx > widest ? size.cx : widest;
    }
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    return widest;
}

void PressCtrlA(HWND list)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(list, WM_KEYDOWN, 'A', 1);
    SendMessageA(list, WM_CHAR, 0x01, 1);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

} // namespace

TEST_F(AttachmentListTest, LongEntriesScrollSideways)
{
    LoadWithSettings();
    WriteMessage("1.eml", WithAttachment("Subject: short\r\n"));
    std::string longSubject = Cp932(u8"【長い件名】") + std::string(300, 'x');
    WriteMessage("2.eml", WithAttachment("Subject: " + longSubject + "\r\n"));
    LRESULT extent = 0;
    int widest = 0, visible = 0;
    Dialogs().Run("measure", [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, 1000);
        extent = SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0);
        widest = WidestEntryInPixels(list);
        RECT client;
        GetClientRect(list, &client);
        visible = client.right;
    });
    Dialogs().Press(IDCANCEL);
    OpenList();
    EXPECT_GE(extent, widest) << "the whole of the longest entry can be scrolled into view";
    EXPECT_LT(extent, widest + widest / 4) << "and not much more";
    EXPECT_GT(widest, visible);
}

TEST_F(AttachmentListTest, CtrlASelectsEveryEntryAndOkStripsThemAll)
{
    LoadWithSettings("DeleteMsg=1\r\n");
    std::vector<std::string> ids;
    for (int i = 0; i < 4; ++i)
        ids.push_back(WriteMessage("m" + std::to_string(i) + ".eml", WithAttachment("Subject: m\r\n")));
    LRESULT selectedBefore = -1, selectedAfter = -1;
    Dialogs().Run("Ctrl+A", [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, 1000);
        selectedBefore = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
        PressCtrlA(list);
        selectedAfter = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    });
    Dialogs().Press(IDOK);
    OpenList();
    EXPECT_EQ(0, selectedBefore);
    EXPECT_EQ(4, selectedAfter);
    for (const std::string& id : ids)
        EXPECT_EQ(Stripped("Subject: m\r\n"), ReadMessage(id));
}

TEST_F(AttachmentListTest, WithBulkProgressTheCaptionCountsAndTheStatusLineSumsUp)
{
    CaptionWatchingHost& host = InstallHost<CaptionWatchingHost>();
    LoadWithSettings("BulkProgress=1\r\nDeleteMsg=1\r\n");
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(WriteMessage("m" + std::to_string(i) + ".eml", WithAttachment("Subject: m\r\n")));
    // Listed (multipart/mixed) but no child part: left alone with its notice.
    std::string odd = WriteMessage("m3.eml", "Subject: odd\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\ntext\r\n");
    WriteMessage("m4.eml", WithAttachment("Subject: not selected\r\n"));
    Dialogs().Run("select four of five", [&host](HWND dialog) {
        host.dialog = dialog;
        SelectListEntries(dialog, {0, 1, 2, 3});
    });
    Dialogs().Press(IDOK);
    Dialogs().Press(IDOK); // the notice of the message that is not multipart
    OpenList();

    std::string title = Cp932(u8"添付ファイル 一覧");
    std::vector<std::string> expected;
    for (int done = 0; done < 4; ++done)
        expected.push_back(title + Cp932(u8" - 削除中 ") + std::to_string(done) + " / 4");
    EXPECT_EQ(expected, host.captions);

    size_t saved = 0;
    for (int i = 0; i < 3; ++i)
        saved += WithAttachment("Subject: m\r\n").size() - Stripped("Subject: m\r\n").size();
    char savedText[32];
    std::snprintf(savedText, sizeof savedText, "%zu", saved);
    std::vector<HostCall> status = Calls("TLA_SetMessageText");
    ASSERT_EQ(1u, status.size());
    EXPECT_EQ(Cp932(u8"添付ファイルの一括削除: 3 通を削除、1 通はそのまま、") + savedText + Cp932(u8" バイト減りました。"),
              status[0].args.at(1));
    EXPECT_EQ("0", status[0].args.at(0));
    EXPECT_EQ("TLA_SetMessageText", CallNames().back()) << "one line, at the end";
}

TEST_F(AttachmentListTest, BulkProgressSumsBytesWithThousandsSeparators)
{
    LoadWithSettings("BulkProgress=1\r\nDeleteMsg=1\r\n");
    std::string attachment = std::string(3000, 'B') + "\r\n";
    std::string message = WithAttachment("Subject: big\r\n");
    message.replace(message.find("iVBORw0KGgo="), 12, attachment);
    WriteMessage("big.eml", message);
    Dialogs().Run("select all", SelectAllListEntries);
    Dialogs().Press(IDOK);
    OpenList();
    std::vector<HostCall> status = Calls("TLA_SetMessageText");
    ASSERT_EQ(1u, status.size());
    size_t saved = message.size() - Stripped("Subject: big\r\n").size();
    ASSERT_GT(saved, 3000u);
    std::string withComma = std::to_string(saved / 1000) + "," + std::to_string(saved % 1000 + 1000).substr(1);
    EXPECT_EQ(Cp932(u8"添付ファイルの一括削除: 1 通を削除、0 通はそのまま、") + withComma + Cp932(u8" バイト減りました。"),
              status[0].args.at(1));
}
