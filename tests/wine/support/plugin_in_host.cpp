#include "support/plugin_in_host.h"

#include <algorithm>

#include "support/text.h"

PluginInHost::PluginInHost()
{
    for (const char* folder : {"data", "data\\Main", "data\\Main\\Inbox", "data\\Main\\Trash", "plugin"})
        CreateDirectoryA((scratch_ / folder).c_str(), nullptr);
    UseHost(std::make_unique<MailboxHost>(DataFolder(), "Main", "Inbox"));
}

PluginInHost::~PluginInHost()
{
    plugin_.reset();
    SetHostBackend(nullptr);
}

void PluginInHost::UseHost(std::unique_ptr<MailboxHost> host)
{
    host_ = std::move(host);
    SetHostBackend(host_.get());
}

void PluginInHost::LoadPlugin(const std::string& settingsLines)
{
    if (!settingsLines.empty())
        WriteFileBytes(PluginFolder() + "\\TlClipsum.ini", "[Settings]\r\n" + settingsLines);
    plugin_ = std::make_unique<LoadedPluginCopy>(PluginFolder());
    ClearLog();
}

std::string PluginInHost::AddMessage(const std::string& fileName, const std::string& bytes)
{
    WriteFileBytes(InboxPath() + "\\" + fileName, bytes);
    host_->Rescan();
    return "Inbox\\" + fileName;
}

std::string PluginInHost::MessageBytes(const std::string& mailId) const
{
    return ReadFileBytes(host_->PathOf(mailId.c_str()));
}

std::vector<std::string> PluginInHost::TrashContents() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((TrashPath() + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(entry.cFileName);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> contents;
    for (const std::string& name : names)
        contents.push_back(ReadFileBytes(TrashPath() + "\\" + name));
    return contents;
}

int PluginInHost::InitMenu(int type)
{
    typedef int(WINAPI * MenuInit)(HWND, HMENU, int);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 100, "Exit");
    plugin_->Export<MenuInit>("TLC_OnMenuInit")(nullptr, menu, type);
    DestroyMenu(menu);
    const RegisteredCommand* command = host_->LatestCommandFor(type);
    return command != nullptr ? command->id : 0;
}

void PluginInHost::StripWithCommand(const std::string& mailId, int answer)
{
    int command = InitMenu(1);
    ASSERT_NE(0, command);
    host_->SetCurrentMail(mailId.c_str());
    ClearLog();
    driver_.Press(answer);
    ASSERT_TRUE(host_->RunCommand(command, nullptr));
    EXPECT_EQ(0u, driver_.PendingSteps()) << "the confirmation was shown";
}

std::string Notices::NotMultipart() { return Cp932(u8"現在は、multipart/mixedの形式以外は、サポートしていません。"); }
std::string Notices::CannotProcess() { return Cp932(u8"このメールは処理できませんでした。"); }
std::string Notices::BackupFailed() { return Cp932(u8"バックアップ処理を行うことができませんでした。"); }
std::string Notices::ConfirmStrip() { return Cp932(u8"添付ファイルを削除してもよいですか？"); }
