// The harness itself: the test program really is a host (its export table),
// the mailbox behaviour that the plug-in's tests rely on, the call log, the
// dialog driver and the plug-in loading of the fixture.

#include <cstring>
#include <set>

#include "host_backend.h"
#include "plugin_fixture.h"
#include "subject_text.h"

namespace {

template <class Function> Function HostFunction(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name)));
}

const char kPlain[] = "Subject: plain\r\nContent-Type: text/plain\r\n\r\nhello\r\n";
const char kMixed[] = "Subject: with a file\r\n"
                      "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
                      "\r\n"
                      "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
                      "--b\r\nContent-Type: application/octet-stream\r\n\r\nAAAA\r\n--b--\r\n";

TEST(HostExports, AllFiftyFourNamesAreInTheProgramsExportTable)
{
    HMODULE program = GetModuleHandleA(nullptr);
    std::set<std::string> distinct;
    for (const char* name : kHostFunctionNames) {
        distinct.insert(name);
        EXPECT_NE(GetProcAddress(program, name), nullptr) << name;
    }
    EXPECT_EQ(distinct.size(), 54u);
    EXPECT_STREQ(kHostFunctionNames[0], "TLA_GetVersion");
    EXPECT_STREQ(kHostFunctionNames[53], "TLA_Connect");
}

TEST(StandInHostList, SubjectsAreDecodedForDisplayOnly)
{
    // 見積書 in ISO-2022-JP; 表 (JIS 0x493D) turns into a Shift_JIS pair ending in 0x5C.
    EXPECT_EQ(SubjectForDisplay("=?ISO-2022-JP?B?GyRCOCtAUT1xGyhC?="), L"\u898b\u7a4d\u66f8");
    EXPECT_EQ(SubjectForDisplay("=?iso-2022-jp?b?GyRCST0bKEI=?= x"), L"\u8868 x");
    EXPECT_EQ(SubjectForDisplay("Re: =?UTF-8?Q?caf=C3=A9_ok?=  =?UTF-8?B?w6k=?= end"), L"Re: caf\u00e9 ok\u00e9 end");
    EXPECT_EQ(SubjectForDisplay("\x83\x5C\x83\x74\x83\x67"), L"\u30bd\u30d5\u30c8");
    EXPECT_EQ(SubjectForDisplay("=?broken"), L"=?broken");
}

class MailboxHostTest : public PluginFixture {
protected:
    TLA_GetNextMail_t getNextMail = HostFunction<TLA_GetNextMail_t>("TLA_GetNextMail");
    TLA_GetStatus_t getStatus = HostFunction<TLA_GetStatus_t>("TLA_GetStatus");
    TLA_GetSource_t getSource = HostFunction<TLA_GetSource_t>("TLA_GetSource");
    TLA_SetSource_t setSource = HostFunction<TLA_SetSource_t>("TLA_SetSource");
    TLA_GetHeader_t getHeader = HostFunction<TLA_GetHeader_t>("TLA_GetHeader");
    TLA_SetCurrentMail_t setCurrentMail = HostFunction<TLA_SetCurrentMail_t>("TLA_SetCurrentMail");
    TLA_GetCurrentMail_t getCurrentMail = HostFunction<TLA_GetCurrentMail_t>("TLA_GetCurrentMail");
    TLA_MoveSelectedMessages_t moveSelected = HostFunction<TLA_MoveSelectedMessages_t>("TLA_MoveSelectedMessages");
};

TEST_F(MailboxHostTest, GetNextMailWalksTheFolderInFileNameOrderAndEndsWithMinusOne)
{
    WriteMessage("c.eml", kPlain);
    WriteMessage("a.eml", kPlain);
    WriteMessage("b.eml", kMixed);
    WriteMessage("notes.txt", "not a message");
    char id[256];

    EXPECT_EQ(getNextMail(-1, id, sizeof id, 0), 0);
    EXPECT_STREQ(id, "Inbox\\a.eml");
    EXPECT_EQ(getNextMail(0, id, sizeof id, 0), 1);
    EXPECT_STREQ(id, "Inbox\\b.eml");
    EXPECT_EQ(getNextMail(1, id, sizeof id, 0), 2);
    EXPECT_STREQ(id, "Inbox\\c.eml");
    std::strcpy(id, "untouched");
    EXPECT_EQ(getNextMail(2, id, sizeof id, 0), -1);
    EXPECT_STREQ(id, "untouched");

    // Asking with p - 1 yields the message at p again, also after its source changed.
    ASSERT_EQ(setSource("Inbox\\b.eml", kPlain), 1);
    EXPECT_EQ(getNextMail(1 - 1, id, sizeof id, 0), 1);
    EXPECT_STREQ(id, "Inbox\\b.eml");
}

TEST_F(MailboxHostTest, GetNextMailBoundsTheIdByTheBufferSize)
{
    WriteMessage("a-long-name.eml", kPlain);
    char id[16];
    std::memset(id, 'x', sizeof id);
    EXPECT_EQ(getNextMail(-1, id, 8, 0), 0);
    EXPECT_EQ(std::string(id), "Inbox\\a");
    EXPECT_EQ(id[8], 'x');

    std::memset(id, 'x', sizeof id);
    EXPECT_EQ(getNextMail(-1, id, 0, 0), 0);
    EXPECT_EQ(id[0], 'x');
    EXPECT_EQ(getNextMail(-1, nullptr, 256, 0), 0);
}

TEST_F(MailboxHostTest, AnEmptyFolderAnswersMinusOneAtOnce)
{
    char id[256] = "untouched";
    EXPECT_EQ(getNextMail(-1, id, sizeof id, 0), -1);
    EXPECT_STREQ(id, "untouched");
}

TEST_F(MailboxHostTest, StatusBitMarksTopLevelMultipartMixedOnly)
{
    std::string mixed = WriteMessage("mixed.eml", kMixed);
    std::string folded =
        WriteMessage("folded.eml", "content-type: Multipart/MIXED;\n boundary=\"b\"\n\n--b\n\nx\n--b--\n");
    std::string plain = WriteMessage("plain.eml", kPlain);
    std::string alternative =
        WriteMessage("alternative.eml", "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b--\r\n");
    std::string longer = WriteMessage("longer.eml", "Content-Type: multipart/mixedup\r\n\r\n");
    std::string inBody = WriteMessage("inbody.eml", "Subject: x\r\n\r\nContent-Type: multipart/mixed\r\n");
    std::string longHeader;
    for (int i = 0; i < 1000; ++i)
        longHeader += "X-Line: " + std::to_string(i) + " of a header read in pieces\r\n";
    std::string lateType =
        WriteMessage("late.eml", longHeader + "Content-Type: multipart/mixed\r\n\r\n" + std::string(100000, 'a'));

    EXPECT_EQ(getStatus(mixed.c_str()) & kStatusHasAttachments, kStatusHasAttachments);
    EXPECT_EQ(getStatus(folded.c_str()) & kStatusHasAttachments, kStatusHasAttachments);
    EXPECT_EQ(getStatus(plain.c_str()) & kStatusHasAttachments, 0);
    EXPECT_EQ(getStatus(alternative.c_str()) & kStatusHasAttachments, 0);
    EXPECT_EQ(getStatus(longer.c_str()) & kStatusHasAttachments, 0);
    EXPECT_EQ(getStatus(inBody.c_str()) & kStatusHasAttachments, 0);
    EXPECT_EQ(getStatus(lateType.c_str()) & kStatusHasAttachments, kStatusHasAttachments);
    EXPECT_EQ(getStatus("Inbox\\missing.eml"), 0);
    EXPECT_EQ(getStatus(nullptr), 0);

    Host().OverrideStatus(plain, kStatusHasAttachments | 0x01);
    EXPECT_EQ(getStatus(plain.c_str()), kStatusHasAttachments | 0x01);

    // A stripped message loses the bit.
    ASSERT_EQ(setSource(mixed.c_str(), kPlain), 1);
    EXPECT_EQ(getStatus(mixed.c_str()) & kStatusHasAttachments, 0);
}

TEST_F(MailboxHostTest, StatusBitMarksMultipartMixedWhateverTheLineEnds)
{
    // Written with LF line ends, then each LF made the line end under test.
    const std::string mixed = "Subject: files\nContent-Type: multipart/mixed;\n boundary=\"b\"\n\n"
                              "--b\nContent-Type: text/plain\n\ntext\n--b--\n";
    const std::string inBody = "Subject: x\n\nContent-Type: multipart/mixed\n";
    std::string padding;
    for (int i = 0; i < 1000; ++i)
        padding += "X-Line: " + std::to_string(i) + " of a header read in pieces\n";
    const std::string late = padding + "Content-Type: multipart/mixed; boundary=b\n\n--b--\n";
    struct Case {
        const char* what;
        const char* lineEnd;
    } cases[] = {{"CR LF", "\r\n"}, {"LF alone", "\n"}, {"CR alone", "\r"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto withLineEnds = [&c](const std::string& text) {
            std::string out;
            for (char ch : text)
                out += ch == '\n' ? std::string(c.lineEnd) : std::string(1, ch);
            return out;
        };
        std::string id = WriteMessage("mixed.eml", withLineEnds(mixed));
        EXPECT_EQ(getStatus(id.c_str()) & kStatusHasAttachments, kStatusHasAttachments);
        EXPECT_STREQ(getHeader(id.c_str()),
                     withLineEnds("Subject: files\nContent-Type: multipart/mixed;\n boundary=\"b\"\n").c_str());
        id = WriteMessage("late.eml", withLineEnds(late));
        EXPECT_EQ(getStatus(id.c_str()) & kStatusHasAttachments, kStatusHasAttachments);
        id = WriteMessage("inbody.eml", withLineEnds(inBody));
        EXPECT_EQ(getStatus(id.c_str()) & kStatusHasAttachments, 0);
    }
}

TEST_F(MailboxHostTest, AMessageHoldingANulIsNeverGivenCutShort)
{
    const std::string nulInBody = std::string(kMixed) + std::string(1, '\0') + "after the NUL\r\n";
    std::string body = WriteMessage("body.eml", nulInBody);
    EXPECT_EQ(getSource(body.c_str()), nullptr);
    EXPECT_STREQ(getHeader(body.c_str()), "Subject: with a file\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n");
    EXPECT_EQ(getStatus(body.c_str()), kStatusHasAttachments);

    std::string header = WriteMessage("header.eml", std::string("Subject: a") + '\0' + "b\r\n\r\nbody\r\n");
    EXPECT_EQ(getSource(header.c_str()), nullptr);
    EXPECT_EQ(getHeader(header.c_str()), nullptr);
}

TEST_F(MailboxHostTest, SetSourceReplacesTheFileBytesExactly)
{
    std::string id = WriteMessage("a.eml", kMixed);
    const std::string replacement = "Subject: \x83\x5C\x95\x5C\r\nX: lf only\n\r\n\xFF\xFE body\r\n";

    ASSERT_EQ(setSource(id.c_str(), replacement.c_str()), 1);
    EXPECT_EQ(ReadMessage(id), replacement);
    EXPECT_EQ(FilesIn(kInbox), std::vector<std::string>{"a.eml"}) << "nothing may be left beside it";
    EXPECT_STREQ(getSource(id.c_str()), replacement.c_str());

    EXPECT_EQ(setSource(id.c_str(), nullptr), 0);
    EXPECT_EQ(ReadMessage(id), replacement);
    EXPECT_EQ(setSource("Inbox\\new.eml", kPlain), 0);
    EXPECT_EQ(FilesIn(kInbox), std::vector<std::string>{"a.eml"}) << "SetSource never creates a message";
}

TEST_F(MailboxHostTest, SourceAndHeaderAreReadFromTheFile)
{
    std::string crlf = WriteMessage("crlf.eml", kMixed);
    std::string lf = WriteMessage("lf.eml", "Subject: lf\nX-A: 1\n\nbody\n\nmore\n");
    std::string headerOnly = WriteMessage("header-only.eml", "Subject: no body\r\n");

    EXPECT_STREQ(getSource(crlf.c_str()), kMixed);
    EXPECT_STREQ(getHeader(crlf.c_str()), "Subject: with a file\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n");
    EXPECT_STREQ(getHeader(lf.c_str()), "Subject: lf\nX-A: 1\n");
    EXPECT_STREQ(getHeader(headerOnly.c_str()), "Subject: no body\r\n");

    EXPECT_EQ(getSource("Inbox\\missing.eml"), nullptr);
    EXPECT_EQ(getHeader("Inbox\\missing.eml"), nullptr);
    EXPECT_EQ(getSource(nullptr), nullptr);
    EXPECT_EQ(getSource("..\\..\\plugin\\x.eml"), nullptr) << "an ID never leaves the mailbox";
    EXPECT_EQ(getSource(("Inbox\\" + std::string(300, 'a') + ".eml").c_str()), nullptr);
}

TEST_F(MailboxHostTest, ReturnedTextsStayValidUntilTheSameFunctionIsCalledAgain)
{
    std::string first = WriteMessage("1.eml", kMixed);
    std::string second = WriteMessage("2.eml", kPlain);
    const char* source = getSource(first.c_str());
    const char* header = getHeader(second.c_str());
    getStatus(second.c_str());
    getNextMail(-1, nullptr, 0, 0);
    EXPECT_STREQ(source, kMixed);
    EXPECT_STREQ(header, "Subject: plain\r\nContent-Type: text/plain\r\n");
}

TEST_F(MailboxHostTest, CurrentMailIsEmptyUntilAnExistingMessageIsSelected)
{
    std::string id = WriteMessage("a.eml", kPlain);
    EXPECT_STREQ(getCurrentMail(), "");
    EXPECT_EQ(setCurrentMail(id.c_str()), 1);
    EXPECT_STREQ(getCurrentMail(), id.c_str());
    EXPECT_EQ(setCurrentMail("Inbox\\missing.eml"), 0);
    EXPECT_EQ(setCurrentMail(nullptr), 0);
    EXPECT_STREQ(getCurrentMail(), id.c_str());
}

TEST_F(MailboxHostTest, CopyIntoTheTrashLandsAsANewFileAndNeverOverwrites)
{
    std::string id = WriteMessage("a.eml", kMixed);
    std::string trash = std::string(kMailbox) + kTrash + "\\";
    ASSERT_EQ(setCurrentMail(id.c_str()), 1);

    ASSERT_EQ(moveSelected(trash.c_str(), 1), 1);
    EXPECT_EQ(FilesIn(kTrash), std::vector<std::string>{"a.eml"});
    EXPECT_EQ(ReadBytes(FolderDirectory(kTrash) + "a.eml"), kMixed);
    EXPECT_EQ(ReadMessage(id), kMixed) << "a copy leaves the message in place";

    ASSERT_EQ(setSource(id.c_str(), kPlain), 1);
    ASSERT_EQ(moveSelected(trash.c_str(), 1), 1);
    EXPECT_EQ(FilesIn(kTrash), (std::vector<std::string>{"a-2.eml", "a.eml"}));
    EXPECT_EQ(ReadBytes(FolderDirectory(kTrash) + "a.eml"), kMixed);
    EXPECT_EQ(ReadBytes(FolderDirectory(kTrash) + "a-2.eml"), kPlain);

    EXPECT_EQ(moveSelected((std::string(kMailbox) + "NoSuchFolder\\").c_str(), 1), 0);
    EXPECT_EQ(moveSelected("..\\..\\", 1), 0);
    EXPECT_EQ(moveSelected(nullptr, 1), 0);
}

TEST_F(MailboxHostTest, ACopyOnAFullDiskAnswersZeroAndLeavesNoPartialFile)
{
    // Larger than one piece of the copy, so that the disk fills in the middle.
    std::string big = std::string(kMixed) + std::string(100000, 'x');
    std::string id = WriteMessage("a.eml", big);
    std::string trash = std::string(kMailbox) + kTrash + "\\";
    ASSERT_EQ(setCurrentMail(id.c_str()), 1);

    for (unsigned long long room : {0ull, 1ull, 20000ull, big.size() - 1ull}) {
        SCOPED_TRACE(room);
        Host().SimulateFullDisk(room);
        EXPECT_EQ(moveSelected(trash.c_str(), 1), 0);
        EXPECT_TRUE(FilesIn(kTrash).empty());
    }
    EXPECT_EQ(ReadMessage(id), big);

    Host().SimulateFullDisk(big.size());
    ASSERT_EQ(moveSelected(trash.c_str(), 1), 1);
    EXPECT_EQ(FilesIn(kTrash), std::vector<std::string>{"a.eml"});
    EXPECT_TRUE(ReadBytes(FolderDirectory(kTrash) + "a.eml") == big) << "the copy is whole";
}

TEST_F(MailboxHostTest, MoveTakesTheMessageOutOfTheFolder)
{
    std::string id = WriteMessage("a.eml", kPlain);
    ASSERT_EQ(setCurrentMail(id.c_str()), 1);
    ASSERT_EQ(moveSelected((std::string(kMailbox) + kTrash + "\\").c_str(), 0), 1);
    EXPECT_TRUE(FilesIn(kInbox).empty());
    EXPECT_EQ(FilesIn(kTrash), std::vector<std::string>{"a.eml"});
    char buffer[256];
    EXPECT_EQ(getNextMail(-1, buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(moveSelected((std::string(kMailbox) + kTrash + "\\").c_str(), 1), 0) << "nothing is selected any more";
}

TEST_F(MailboxHostTest, DataFolderAndMailboxNameTheMailboxDirectory)
{
    std::string folder = HostFunction<TLA_GetDataFolder_t>("TLA_GetDataFolder")();
    std::string mailbox = HostFunction<TLA_GetCurrentMailBox_t>("TLA_GetCurrentMailBox")();
    EXPECT_EQ(folder + mailbox, MailboxDirectory());
    EXPECT_EQ(mailbox, "Main\\");
}

HWND g_commandWindow = nullptr;
LPARAM g_commandValue = -1;
void WINAPI RecordCommand(HWND window, LPARAM value)
{
    g_commandWindow = window;
    g_commandValue = value;
}

TEST_F(MailboxHostTest, RegisteredCommandsGetIdsAndRunWithTheHostWindow)
{
    auto registerCommand = HostFunction<TLA_RegisterCommand_t>("TLA_RegisterCommand");
    EXPECT_EQ(registerCommand("help 1", 1, RecordCommand), MailboxHost::kFirstCommandId);
    EXPECT_EQ(registerCommand("help 2", 2, nullptr), MailboxHost::kFirstCommandId + 1);
    EXPECT_FALSE(RunMenuCommand(3));
    ASSERT_TRUE(RunMenuCommand(1));
    EXPECT_EQ(g_commandWindow, HostWindow());
    EXPECT_EQ(g_commandValue, 0);
}

TEST_F(MailboxHostTest, TheCallLogKeepsEveryCallWithItsArgumentsInOrder)
{
    std::string id = WriteMessage("a.eml", kMixed);
    char buffer[256];
    getStatus(nullptr);
    HostFunction<TLA_SetMessageText_t>("TLA_SetMessageText")(nullptr, "\x83\x5C\x95\x5C");
    getNextMail(-1, buffer, sizeof buffer, 0);
    HostFunction<int(WINAPI*)()>("TLA_Alloc")();

    const std::vector<HostCall>& calls = Log().Calls();
    ASSERT_EQ(Log().Names(),
              (std::vector<std::string>{"TLA_GetStatus", "TLA_SetMessageText", "TLA_GetNextMail", "TLA_Alloc"}));
    EXPECT_EQ(calls[0].args, std::vector<std::string>{kNullText});
    EXPECT_EQ(calls[0].result, "0");
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"0", "\x83\x5C\x95\x5C"}));
    EXPECT_EQ(Host().MessageText(), "\x83\x5C\x95\x5C");
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{"-1", id, "256", "0"}));
    EXPECT_EQ(calls[2].result, "0");
    EXPECT_TRUE(calls[3].args.empty());
    EXPECT_EQ(Log().Format(), "TLA_GetStatus((null)) = 0\n"
                              "TLA_SetMessageText(0, \"\x83\x5C\x95\x5C\") = 1\n"
                              "TLA_GetNextMail(-1, \"Inbox\\a.eml\", 256, 0) = 0\n"
                              "TLA_Alloc()\n");
}

class NoSourceHost : public MailboxHost {
public:
    using MailboxHost::MailboxHost;
    const char* GetSource(const char*) override { return nullptr; }
};

TEST_F(MailboxHostTest, ATestHostReplacesOneAnswerBehindTheExports)
{
    InstallHost<NoSourceHost>();
    std::string id = WriteMessage("a.eml", kMixed);
    EXPECT_EQ(getSource(id.c_str()), nullptr);
    EXPECT_EQ(getStatus(id.c_str()), kStatusHasAttachments);
    ASSERT_EQ(Log().Calls().size(), 2u);
    EXPECT_EQ(Log().Calls()[0].result, kNullText);
}

// A dialog built in memory: a list of three entries with extended selection
// and an OK button that confirms with a message box, then ends with the
// number of selected entries.
class DialogDriverTest : public PluginFixture {
protected:
    static INT_PTR CALLBACK ListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
    {
        if (message == WM_INITDIALOG) {
            for (const char* entry : {"zero", "one", "two"}) {
                SendDlgItemMessageA(dialog, kListId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
            }
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == kListId && HIWORD(wParam) == LBN_DBLCLK) {
            doubleClicked = static_cast<int>(SendDlgItemMessageA(dialog, kListId, LB_GETCARETINDEX, 0, 0));
            return FALSE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            if (MessageBoxA(dialog, "\x8A\x6D\x94\x46", "confirm", MB_OKCANCEL) == IDOK) {
                EndDialog(dialog, SendDlgItemMessageA(dialog, kListId, LB_GETSELCOUNT, 0, 0));
            }
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, -2);
            return TRUE;
        }
        return FALSE;
    }

    INT_PTR RunListDialog()
    {
        // DLGTEMPLATE, then menu, class, title; each item DWORD-aligned.
        alignas(4) WORD memory[256] = {};
        DLGTEMPLATE* dialog = reinterpret_cast<DLGTEMPLATE*>(memory);
        dialog->style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        dialog->cdit = 2;
        dialog->cx = 160;
        dialog->cy = 100;
        WORD* at = reinterpret_cast<WORD*>(dialog + 1);
        *at++ = 0;
        *at++ = 0;
        for (const wchar_t* c = L"\u4e00\u89a7"; *c; ++c)
            *at++ = *c; // 一覧
        *at++ = 0;
        auto item = [&at, &memory](DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
                                   const wchar_t* text) {
            while ((at - memory) % 2)
                *at++ = 0;
            DLGITEMTEMPLATE* control = reinterpret_cast<DLGITEMTEMPLATE*>(at);
            control->style = style | WS_CHILD | WS_VISIBLE;
            control->x = x;
            control->y = y;
            control->cx = cx;
            control->cy = cy;
            control->id = id;
            at = reinterpret_cast<WORD*>(control + 1);
            *at++ = 0xFFFF;
            *at++ = atom;
            for (const wchar_t* c = text; *c; ++c)
                *at++ = *c;
            *at++ = 0;
            *at++ = 0;
        };
        item(LBS_EXTENDEDSEL | LBS_NOTIFY | WS_BORDER | WS_VSCROLL, 5, 5, 150, 60, kListId, 0x0083, L"");
        item(BS_DEFPUSHBUTTON, 50, 75, 50, 14, IDOK, 0x0080, L"OK");
        return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialog, HostWindow(), ListDialog, 0);
    }

    static constexpr int kListId = 1000;
    static int doubleClicked;
};
int DialogDriverTest::doubleClicked = -1;

TEST_F(DialogDriverTest, AnswersAMessageBoxAndReadsCaptionAndTextAsCp932Bytes)
{
    const char caption[] = "Message from TlClipsum";
    // ソ and 表 end in the byte 0x5C, which a careless conversion turns into a backslash.
    const char text[] = "\x83\x5C\x83\x74\x83\x67\x95\x5C\x8E\xA6\x81\x48";
    Dialogs().Press(IDCANCEL);
    EXPECT_EQ(MessageBoxA(HostWindow(), text, caption, MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    ASSERT_EQ(Dialogs().Seen().size(), 1u);
    EXPECT_EQ(Dialogs().Seen()[0].caption, caption);
    EXPECT_EQ(Dialogs().Seen()[0].text, text);
    EXPECT_EQ(Dialogs().Seen()[0].steps, std::vector<std::string>{"pressed Cancel"});
}

TEST_F(DialogDriverTest, AStepThatLeavesTheDialogOpenHandsItToTheNextStep)
{
    std::string picture = Root() + "box.bmp";
    Dialogs().Screenshot(picture);
    Dialogs().Press(IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "question", "caption", MB_YESNO), IDYES);
    EXPECT_EQ(Dialogs().PendingSteps(), 0u);

    std::string bitmap = ReadBytes(picture);
    ASSERT_GT(bitmap.size(), 54u);
    EXPECT_EQ(bitmap.substr(0, 2), "BM");
    BITMAPINFOHEADER info;
    std::memcpy(&info, bitmap.data() + sizeof(BITMAPFILEHEADER), sizeof info);
    EXPECT_EQ(info.biBitCount, 24);
    EXPECT_GT(info.biWidth, 50);
    EXPECT_GT(info.biHeight, 30);
    std::string pixels = bitmap.substr(54);
    EXPECT_NE(pixels.find_first_not_of(pixels[0]), std::string::npos) << "the picture is blank";
}

TEST_F(DialogDriverTest, AnUnexpectedDialogIsCancelledAndRecordedInsteadOfHanging)
{
    EXPECT_EQ(MessageBoxA(nullptr, "nobody answers", "caption", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(RunListDialog(), -2);
    ASSERT_EQ(Dialogs().Seen().size(), 2u);
    EXPECT_TRUE(Dialogs().Seen()[0].closedByDriver);
    EXPECT_TRUE(Dialogs().Seen()[1].closedByDriver);
    EXPECT_EQ(Dialogs().ClosedByDriverCount(), 2u);
    Dialogs().Clear(); // expected here; the fixture fails a test on any other
}

TEST_F(DialogDriverTest, DrivesAListDialogAndTheMessageBoxItOpens)
{
    Dialogs().Run("double-click", [](HWND dialog) { DoubleClickListEntry(dialog, 2); });
    Dialogs().Run("select all", SelectAllListEntries);
    Dialogs().Press(IDOK);
    Dialogs().Press(IDCANCEL); // the confirmation: declined, the dialog stays
    Dialogs().Run("select two", [](HWND dialog) { SelectListEntries(dialog, {0, 2}); });
    Dialogs().Press(IDOK);
    Dialogs().Press(IDOK); // the confirmation again

    EXPECT_EQ(RunListDialog(), 2);
    EXPECT_EQ(doubleClicked, 2);
    ASSERT_EQ(Dialogs().Seen().size(), 3u);
    EXPECT_EQ(Dialogs().Seen()[0].caption, "\x88\xea\x97\x97"); // 一覧
    EXPECT_EQ(Dialogs().Seen()[0].steps.size(), 5u);
    EXPECT_EQ(Dialogs().Seen()[1].text, "\x8A\x6D\x94\x46");
    EXPECT_EQ(Dialogs().Seen()[2].steps, std::vector<std::string>{"pressed OK"});
}

TEST_F(PluginFixture, LoadsAFreshCopyOfThePluginFromItsOwnFolder)
{
    ASSERT_TRUE(LoadPlugin()) << "error " << LoadError();
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(Plugin(), path, MAX_PATH), 0u);
    EXPECT_EQ(std::string(path), PluginDirectory() + "TlClipsum.dll");
    EXPECT_NE(Exports().OnMenuInit, nullptr);
    EXPECT_NE(Exports().OnPlugInInfo, nullptr);

    ASSERT_TRUE(LoadPlugin("Second.dll"));
    EXPECT_EQ(GetModuleHandleA((PluginDirectory() + "TlClipsum.dll").c_str()), nullptr) << "the first was unloaded";
    ASSERT_GT(GetModuleFileNameA(Plugin(), path, MAX_PATH), 0u);
    EXPECT_EQ(std::string(path), PluginDirectory() + "Second.dll");
}

} // namespace
