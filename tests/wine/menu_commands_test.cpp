// The plug-in's entries in the host's menus and the commands behind them.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/plugin_in_host.h"
#include "support/text.h"

namespace {

struct MenuEntry {
    std::string text; // code page 932
    UINT id;
    UINT type;
    UINT state;
};

std::vector<MenuEntry> Entries(HMENU menu)
{
    std::vector<MenuEntry> entries;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[256] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        GetMenuItemInfoA(menu, i, TRUE, &info);
        entries.push_back({text, info.wID, info.fType, info.fState});
    }
    return entries;
}

class MenuCommandsTest : public PluginInHost {
protected:
    HMENU NewMenu()
    {
        HMENU menu = CreatePopupMenu();
        AppendMenuA(menu, MF_STRING, 100, "Open");
        AppendMenuA(menu, MF_STRING, 101, "Exit");
        menus_.push_back(menu);
        return menu;
    }
    ~MenuCommandsTest() override
    {
        for (HMENU menu : menus_)
            DestroyMenu(menu);
    }
    int MenuInit(HMENU menu, int type) { return Exports().OnMenuInit(nullptr, menu, type); }

    std::vector<HMENU> menus_;
};

} // namespace

TEST_F(MenuCommandsTest, OtherMenuTypesAreLeftAlone)
{
    LoadWithSettings();
    for (int type : {0, 3, -1}) {
        HMENU menu = NewMenu();
        EXPECT_EQ(0, MenuInit(menu, type));
        EXPECT_EQ(2, GetMenuItemCount(menu));
    }
    EXPECT_TRUE(CallNames().empty());
}

TEST_F(MenuCommandsTest, EachCommandGoesBeforeTheLastEntryFollowedByASeparator)
{
    LoadWithSettings();
    const struct {
        int type;
        const char* help;
        const char* text;
    } rows[] = {
        {1, u8"選択中のメールの添付を削除します。", u8"添付削除"},
        {2, u8"添付ファイル一覧を表示します。", u8"添付ファイル一覧"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        ClearLog();
        HMENU menu = NewMenu();
        EXPECT_EQ(0, MenuInit(menu, row.type));

        std::vector<HostCall> registrations = Calls("TLA_RegisterCommand");
        ASSERT_EQ(1u, registrations.size());
        EXPECT_EQ(Cp932(row.help), registrations[0].args.at(0));
        EXPECT_EQ(std::to_string(row.type), registrations[0].args.at(1));
        UINT id = static_cast<UINT>(std::stoi(registrations[0].result));

        std::vector<MenuEntry> entries = Entries(menu);
        ASSERT_EQ(4u, entries.size());
        EXPECT_EQ("Open", entries[0].text);
        EXPECT_EQ(Cp932(row.text), entries[1].text);
        EXPECT_EQ(id, entries[1].id);
        EXPECT_EQ(0u, entries[1].state & (MFS_GRAYED | MFS_DISABLED)) << "the command can be chosen";
        EXPECT_EQ(static_cast<UINT>(MFT_SEPARATOR), entries[2].type & MFT_SEPARATOR);
        EXPECT_EQ("Exit", entries[3].text);
    }
}

TEST_F(MenuCommandsTest, EveryCallRegistersAndInsertsAgain)
{
    LoadWithSettings();
    HMENU menu = NewMenu();
    MenuInit(menu, 2);
    MenuInit(menu, 2);
    EXPECT_EQ(2u, Calls("TLA_RegisterCommand").size());
    EXPECT_EQ(6, GetMenuItemCount(menu));
}

TEST_F(MenuCommandsTest, TheListCommandOpensItsDialogOwnedByTheHostsWindow)
{
    LoadWithSettings();
    WriteMessage("a.eml", "Subject: x\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n");
    HWND owner = CreateWindowA("STATIC", "host", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    int command = InitMenu(2);
    HWND seenOwner = nullptr;
    std::string title;
    Dialogs().Run("look", [&](HWND dialog) {
        seenOwner = GetWindow(dialog, GW_OWNER);
        title = WindowTextCp932(dialog);
    });
    Dialogs().Press(IDCANCEL);
    ASSERT_TRUE(Host().RunCommand(command, owner));
    EXPECT_EQ(owner, seenOwner);
    EXPECT_EQ(Cp932(u8"添付ファイル 一覧"), title);
    DestroyWindow(owner);
}
