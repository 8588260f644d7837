#include "support/plugin_in_host.h"

#include "support/text.h"

void PluginInHost::LoadWithSettings(const std::string& settingsLines)
{
    if (!settingsLines.empty())
        WriteIni("[Settings]\r\n" + settingsLines);
    ASSERT_TRUE(LoadPlugin()) << "error " << LoadError();
    ClearLog();
}

int PluginInHost::InitMenu(int type)
{
    Exports().OnMenuInit(HostWindow(), MenuOfType(type), type);
    const RegisteredCommand* command = Host().LatestCommandFor(type);
    return command != nullptr ? command->id : 0;
}

void PluginInHost::StripWithCommand(const std::string& mailId, int answer)
{
    int command = InitMenu(1);
    ASSERT_NE(0, command);
    Host().SetCurrentMail(mailId.c_str());
    ClearLog();
    size_t shown = Dialogs().Seen().size();
    Dialogs().Press(answer);
    ASSERT_TRUE(Host().RunCommand(command, HostWindow()));
    ASSERT_LT(shown, Dialogs().Seen().size());
    EXPECT_EQ(Notices::ConfirmStrip(), Dialogs().Seen()[shown].text) << "the confirmation came first";
}

std::vector<std::string> PluginInHost::TrashContents() const
{
    std::vector<std::string> contents;
    for (const std::string& name : FilesIn(kTrash))
        contents.push_back(ReadBytes(TrashPath() + name));
    return contents;
}

std::string SourcePath(const std::string& relative)
{
    std::string path = std::string("Z:") + TLC_SOURCE_DIR + "/" + relative;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string Notices::NotMultipart()
{
    return Cp932(u8"現在は、multipart/mixedの形式以外は、サポートしていません。");
}
std::string Notices::CannotProcess()
{
    return Cp932(u8"このメールは処理できませんでした。");
}
std::string Notices::BackupFailed()
{
    return Cp932(u8"バックアップ処理を行うことができませんでした。");
}
std::string Notices::ConfirmStrip()
{
    return Cp932(u8"添付ファイルを削除してもよいですか？");
}
