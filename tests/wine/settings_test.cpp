// Where the settings file lies and how it is read and written, through the
// platform's real profile functions. These use the settings code itself,
// linked into the test program, on copies of the built plug-in.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "plugin/core/settings.h"
#include "plugin_fixture.h"

namespace {

std::string IniPathFor(const char* libraryPath, size_t size = MAX_PATH)
{
    char iniPath[MAX_PATH + 16];
    if (!MakeIniPath(libraryPath, iniPath, size))
        return "<refused>";
    return iniPath;
}

// Reads the settings as the plug-in does at load, for the plug-in `module`.
void LoadSettingsFor(HMODULE module)
{
    g_settings = PluginSettings();
    LoadSettings(module);
}

class SettingsFileTest : public PluginFixture {
protected:
    void LoadCopyAndSettings()
    {
        ASSERT_TRUE(LoadPlugin()) << "error " << LoadError();
        LoadSettingsFor(Plugin());
    }
    std::string IniBytes() { return ReadBytes(IniPath()); }
    bool IniExists() { return GetFileAttributesA(IniPath().c_str()) != INVALID_FILE_ATTRIBUTES; }
};

} // namespace

TEST(IniPath, TakesTheLibrarysNameWithTheExtensionIni)
{
    EXPECT_EQ("C:\\Mail\\Plugins\\TlClipsum.ini", IniPathFor("C:\\Mail\\Plugins\\TlClipsum.dll"));
    EXPECT_EQ("C:\\Mail\\Tl.Clipsum.ini", IniPathFor("C:\\Mail\\Tl.Clipsum.dll"));
    EXPECT_EQ("C:\\Mail\\TlClipsum.ini", IniPathFor("C:\\Mail\\TlClipsum"));
}

TEST(IniPath, ADotInAFolderNameIsNotAnExtension)
{
    EXPECT_EQ("C:\\Mail.v2\\Plugins\\TlClipsum.ini", IniPathFor("C:\\Mail.v2\\Plugins\\TlClipsum"));
    EXPECT_EQ("Z:\\a.b/TlClipsum.ini", IniPathFor("Z:\\a.b/TlClipsum"));
}

// 0x5C, the backslash, is also the second byte of characters such as 表.
TEST(IniPath, ASecondByteThatLooksLikeABackslashIsNoSeparator)
{
    ASSERT_EQ(932u, GetACP());
    EXPECT_EQ("C:\\Mail\\x.ini", IniPathFor("C:\\Mail\\x.y\x95\x5C"));
}

TEST(IniPath, APathThatWouldNotFitIsRefusedNotCut)
{
    std::string folder = "C:\\" + std::string(248, 'a') + "\\";
    EXPECT_EQ("<refused>", IniPathFor((folder + "TlClip").c_str()));
    EXPECT_EQ(folder + "Tl.ini", IniPathFor((folder + "Tl.dll").c_str()));
    EXPECT_EQ("<refused>", IniPathFor("C:\\TlClipsum.dll", 16));
    EXPECT_EQ("C:\\TlClipsum.ini", IniPathFor("C:\\TlClipsum.dll", 17));
}

TEST_F(SettingsFileTest, WithoutAFileEverySettingIsOffAndNothingIsCreated)
{
    LoadCopyAndSettings();
    EXPECT_EQ(IniPath(), g_settings.iniPath);
    EXPECT_EQ(0, g_settings.backUp);
    EXPECT_EQ(0, g_settings.deleteMsg);
    EXPECT_EQ(0, g_settings.htmlMsgOff);
    EXPECT_FALSE(IniExists());
}

TEST_F(SettingsFileTest, ValuesAreKeptAsReadAndMissingKeysAreOff)
{
    WriteIni("[Other]\r\nBackUP=1\r\n[Settings]\r\nBackUP=2\r\nDeleteMsg=abc\r\n");
    LoadCopyAndSettings();
    EXPECT_EQ(2, g_settings.backUp);
    EXPECT_EQ(0, g_settings.deleteMsg);
    EXPECT_EQ(0, g_settings.htmlMsgOff);

    WriteIni("[settings]\r\nbackup=1\r\nDeleteMsg=7\r\nHtmlMsgOff=1\r\n");
    LoadSettingsFor(Plugin());
    EXPECT_EQ(1, g_settings.backUp) << "profile names are matched without regard to case";
    EXPECT_EQ(7, g_settings.deleteMsg);
    EXPECT_EQ(1, g_settings.htmlMsgOff);
}

TEST_F(SettingsFileTest, SavingWritesTheThreeKeysInOrderAndKeepsTheRest)
{
    LoadCopyAndSettings();
    g_settings.backUp = 1;
    g_settings.deleteMsg = 0;
    g_settings.htmlMsgOff = 1;
    SaveSettings();
    EXPECT_EQ("[Settings]\r\nBackUP=1\r\nDeleteMsg=0\r\nHtmlMsgOff=1\r\n", IniBytes());

    WriteIni("[Mine]\r\nkey=value\r\n[Settings]\r\nHtmlMsgOff=2\r\n");
    SaveSettings();
    EXPECT_EQ("[Mine]\r\nkey=value\r\n[Settings]\r\nHtmlMsgOff=1\r\nBackUP=1\r\nDeleteMsg=0\r\n", IniBytes());
}

// A library without an extension in a folder whose name holds a dot: the
// settings file lies beside it, not one folder up under a cut name.
TEST_F(SettingsFileTest, LibraryWithoutExtensionInADottedFolder)
{
    std::string dotted = PluginDirectory() + "plug.ins";
    ASSERT_TRUE(CreateDirectoryA(dotted.c_str(), nullptr));
    // A trailing dot asks the loader for a file name without extension.
    ASSERT_TRUE(CopyFileA(PluginDllPath().c_str(), (dotted + "\\TlClipsum").c_str(), FALSE));
    HMODULE module = LoadLibraryA((dotted + "\\TlClipsum.").c_str());
    ASSERT_NE(nullptr, module) << GetLastError();
    LoadSettingsFor(module);
    EXPECT_EQ(dotted + "\\TlClipsum.ini", g_settings.iniPath);
    SaveSettings();
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((dotted + "\\TlClipsum.ini").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((PluginDirectory() + "plug.ini").c_str()));
    FreeLibrary(module);
}
