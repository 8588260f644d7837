// The setup dialog: the settings as check boxes, saved on OK only, in effect
// for the very next command.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/plugin_in_host.h"
#include "support/text.h"

namespace {

const std::string kMixed = "Subject: s\r\n"
                           "Content-Type: multipart/mixed; boundary=b\r\n"
                           "\r\n"
                           "--b\r\n"
                           "Content-Type: text/plain\r\n"
                           "\r\n"
                           "text\r\n"
                           "--b\r\n"
                           "Content-Type: application/octet-stream\r\n"
                           "\r\n"
                           "AAAA\r\n"
                           "--b--\r\n";

struct CheckStates {
    LRESULT backUp = -1, deleteMsg = -1, htmlMsgOff = -1;
};

class SetupDialogTest : public PluginInHost {
protected:
    int OpenSetup() { return Exports().OnPlugInSetup(HostWindow()); }
    void ReadChecksThen(CheckStates& states)
    {
        Dialogs().Run("read the check boxes", [&states](HWND dialog) {
            states.backUp = SendDlgItemMessageA(dialog, 1005, BM_GETCHECK, 0, 0);
            states.deleteMsg = SendDlgItemMessageA(dialog, 1008, BM_GETCHECK, 0, 0);
            states.htmlMsgOff = SendDlgItemMessageA(dialog, 1009, BM_GETCHECK, 0, 0);
        });
    }
};

} // namespace

TEST_F(SetupDialogTest, ShowsTheSettingsReadAtLoad)
{
    LoadWithSettings("BackUP=2\r\nDeleteMsg=0\r\nHtmlMsgOff=1\r\n");
    CheckStates states;
    ReadChecksThen(states);
    Dialogs().Press(IDCANCEL);
    EXPECT_EQ(1, OpenSetup());
    ASSERT_EQ(1u, Dialogs().Seen().size());
    EXPECT_EQ("TlClipsum", Dialogs().Seen()[0].caption);
    EXPECT_NE(BST_UNCHECKED, states.backUp) << "2 counts as on";
    EXPECT_EQ(BST_UNCHECKED, states.deleteMsg);
    EXPECT_EQ(BST_CHECKED, states.htmlMsgOff);
}

TEST_F(SetupDialogTest, WithoutAFileEverythingIsOffAndOkCreatesItWithTheThreeKeys)
{
    LoadWithSettings();
    CheckStates states;
    ReadChecksThen(states);
    Dialogs().Press(IDOK);
    EXPECT_EQ(1, OpenSetup());
    EXPECT_EQ(BST_UNCHECKED, states.backUp);
    EXPECT_EQ(BST_UNCHECKED, states.deleteMsg);
    EXPECT_EQ(BST_UNCHECKED, states.htmlMsgOff);
    EXPECT_EQ("[Settings]\r\nBackUP=0\r\nDeleteMsg=0\r\nHtmlMsgOff=0\r\n", ReadBytes(IniPath()));
}

TEST_F(SetupDialogTest, OkStoresZeroOrOneAndTheNextCommandUsesThem)
{
    LoadWithSettings("BackUP=0\r\nDeleteMsg=5\r\nHtmlMsgOff=0\r\n");
    Dialogs().Run("tick backup, untick no-confirmation", [](HWND dialog) {
        SetCheckBox(dialog, 1005, true);
        SetCheckBox(dialog, 1008, false);
    });
    Dialogs().Press(IDOK);
    EXPECT_EQ(1, OpenSetup());
    EXPECT_EQ("[Settings]\r\nBackUP=1\r\nDeleteMsg=0\r\nHtmlMsgOff=0\r\n", ReadBytes(IniPath()));

    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    EXPECT_EQ(1u, Calls("TLA_MoveSelectedMessages").size()) << "the backup is on at once";
    EXPECT_EQ(2u, Calls("TLA_SetCurrentMail").size()) << "and the message is reselected";
    EXPECT_EQ(std::vector<std::string>{kMixed}, TrashContents());
}

TEST_F(SetupDialogTest, CancelChangesNeitherMemoryNorFile)
{
    const std::string ini = "[Settings]\r\nBackUP=0\r\nDeleteMsg=0\r\nHtmlMsgOff=0\r\n";
    LoadWithSettings("BackUP=0\r\nDeleteMsg=0\r\nHtmlMsgOff=0\r\n");
    Dialogs().Run("tick everything", [](HWND dialog) {
        SetCheckBox(dialog, 1005, true);
        SetCheckBox(dialog, 1008, true);
        SetCheckBox(dialog, 1009, true);
    });
    Dialogs().Press(IDCANCEL);
    EXPECT_EQ(1, OpenSetup());
    EXPECT_EQ(ini, ReadBytes(IniPath()));

    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    EXPECT_TRUE(Calls("TLA_MoveSelectedMessages").empty()) << "no backup";
}

TEST_F(SetupDialogTest, OkKeepsEveryOtherKeyAndSectionOfTheFile)
{
    const std::string shipped = "; TlClipsum settings\r\n"
                                "[Settings]\r\n"
                                "BackUP=1\r\n"
                                "ListDetails=1\r\n"
                                "BulkProgress=1\r\n"
                                "[Mine]\r\n"
                                "key=value\r\n";
    WriteIni(shipped);
    ASSERT_TRUE(LoadPlugin());
    Dialogs().Run("tick no-confirmation", [](HWND dialog) { SetCheckBox(dialog, 1008, true); });
    Dialogs().Press(IDOK);
    EXPECT_EQ(1, OpenSetup());
    EXPECT_EQ("; TlClipsum settings\r\n"
              "[Settings]\r\n"
              "BackUP=1\r\n"
              "ListDetails=1\r\n"
              "BulkProgress=1\r\n"
              "DeleteMsg=1\r\n"
              "HtmlMsgOff=0\r\n"
              "[Mine]\r\n"
              "key=value\r\n",
              ReadBytes(IniPath()));
}
