// Without the settings that came after the first release (ListDetails,
// BulkProgress, RemovedNote, SaveFolder) the plug-in must behave exactly as
// it always has: the same host calls with the same arguments, the same list
// entries and the same dialogs. The expected records in golden/ were made by the plug-in as it was
// before those settings existed, over the sample mailbox; a mismatch writes
// what this build did beside the test program (NAME.actual.txt).

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/plugin_in_host.h"

namespace {

struct Case {
    const char* name;
    const char* golden; // file in tests/wine/golden/
    const char* ini;    // the whole settings file; null for none
};

const Case kCases[] = {
    {"NoFile", "unchanged-no-ini.txt", nullptr},
    {"FirstThreeKeys", "unchanged-first-keys.txt", "[Settings]\r\nBackUP=1\r\nDeleteMsg=0\r\nHtmlMsgOff=1\r\n"},
    {"NoConfirmation", "unchanged-no-confirmation.txt", "[Settings]\r\nDeleteMsg=1\r\n"},
    // The new keys in another section, set to 0 or left empty, are no settings of ours.
    {"NewKeysInAnotherSection", "unchanged-no-ini.txt",
     "[Other]\r\nListDetails=1\r\nBulkProgress=1\r\nRemovedNote=1\r\nSaveFolder=C:\\Saved\r\n"},
    {"NewKeysOff", "unchanged-first-keys.txt",
     "[Settings]\r\nBackUP=1\r\nDeleteMsg=0\r\nHtmlMsgOff=1\r\nListDetails=0\r\nBulkProgress=0\r\nRemovedNote=0\r\n"
     "SaveFolder=\r\n"},
};

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length < MAX_PATH ? length : 0);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

class UnchangedWithoutNewSettings : public PluginInHost, public ::testing::WithParamInterface<Case> {
protected:
    void CopySampleInbox()
    {
        std::string folder = SourcePath("samples/mailbox/Main/Inbox") + "\\";
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "*.eml").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search) << folder;
        do {
            WriteMessage(found.cFileName, ReadBytes(folder + found.cFileName));
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    // What a run shows and asks of the host, with the temporary folder's
    // name taken out; long texts are cut, their length kept.
    std::string Record(const std::string& title)
    {
        std::string record = "== " + title + "\n-- host calls\n" + Log().Format(80) + "-- dialogs\n" +
                             Dialogs().Format();
        ReplaceAll(record, Root(), "<root>\\");
        Dialogs().Clear();
        ClearLog();
        return record;
    }
};

} // namespace

TEST_P(UnchangedWithoutNewSettings, SameCallsEntriesAndDialogsAsBefore)
{
    const Case& c = GetParam();
    CopySampleInbox();
    if (c.ini != nullptr)
        WriteIni(c.ini);
    ASSERT_TRUE(LoadPlugin()) << "error " << LoadError();
    int listCommand = InitMenu(2);
    std::string actual;

    StripWithCommand("Inbox\\010-ja-iso2022jp-pdf.eml");
    actual += Record("the single-message command");

    std::vector<std::string> entries;
    Dialogs().Run("read the list", [&entries](HWND dialog) { entries = ListEntryTexts(dialog); });
    Dialogs().Run("select all", SelectAllListEntries);
    // OK, the confirmation unless DeleteMsg, and each notice of the strip.
    for (int i = 0; i < 40; ++i)
        Dialogs().Press(IDOK);
    ClearLog();
    ASSERT_TRUE(Host().RunCommand(listCommand, HostWindow()));
    actual += "== the attachment list\n";
    for (const std::string& entry : entries)
        actual += "entry \"" + entry + "\"\n";
    actual += Record("OK with every entry selected");

    std::string golden = ReadBytes(SourcePath("tests/wine/golden/") + c.golden);
    if (actual != golden) {
        std::string actualPath = ProgramFolder() + c.golden;
        actualPath.replace(actualPath.size() - 4, 4, ".actual.txt");
        WriteWholeFile(actualPath, actual.data(), actual.size());
        size_t line = 1;
        for (size_t i = 0; i < actual.size() && i < golden.size() && actual[i] == golden[i]; ++i)
            line += actual[i] == '\n';
        FAIL() << "differs from " << c.golden << " from line " << line << "; this build's record: " << actualPath;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, UnchangedWithoutNewSettings, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
