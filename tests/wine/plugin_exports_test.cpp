// The plug-in as the host sees it after LoadLibrary: its exports, their
// fixed results, the information record and its version resource.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin_fixture.h"
#include "cp932_text.h"
#include "support/text.h"

namespace {

typedef int(WINAPI* Args0)();
typedef int(WINAPI* Args1)(LPARAM);
typedef int(WINAPI* Args2)(LPARAM, LPARAM);
typedef int(WINAPI* Args3)(LPARAM, LPARAM, LPARAM);

struct ExportRow {
    int ordinal;
    const char* name;
    int argumentCount;
};

const ExportRow kExports[] = {
    {1, "TLC_OnStart", 0},        {2, "TLC_OnExit", 0},        {3, "TLC_OnMenuInit", 3},
    {4, "TLC_OnOpenFolder", 1},   {5, "TLC_OnOpenMail", 1},    {6, "TLC_OnEveryMinute", 0},
    {7, "TLC_OnOpenCompose", 2},  {8, "TLC_OnOutgoing", 2},    {9, "TLC_OnKeyDispatch", 3},
    {10, "TLC_OnRetrieve", 2},    {11, "TLC_OnSend", 1},       {12, "TLC_OnFinishRetrieve", 1},
    {13, "TLC_OnPlugInSetup", 1}, {14, "TLC_OnPlugInInfo", 1},
};

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module)
{
    auto base = reinterpret_cast<const BYTE*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

const IMAGE_EXPORT_DIRECTORY* ExportDirectory(HMODULE module)
{
    const IMAGE_DATA_DIRECTORY& entry = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(reinterpret_cast<const BYTE*>(module) +
                                                           entry.VirtualAddress);
}

DWORD WINAPI DoNothing(LPVOID)
{
    return 0;
}

class PluginExportsTest : public PluginFixture {
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        ASSERT_TRUE(LoadPlugin()) << "error " << LoadError();
    }
    template <typename Fn> Fn Export(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Plugin(), name)));
    }
    std::string PluginPath() const { return PluginDirectory() + "TlClipsum.dll"; }
};

} // namespace

TEST_F(PluginExportsTest, AreExactlyTheFourteenCallbacksByNameAndOrdinal)
{
    const IMAGE_NT_HEADERS* nt = NtHeaders(Plugin());
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic);

    const IMAGE_EXPORT_DIRECTORY* exports = ExportDirectory(Plugin());
    const char* libraryName = reinterpret_cast<const char*>(Plugin()) + exports->Name;
    EXPECT_STREQ("TlClipsum.dll", libraryName);
    EXPECT_EQ(1u, exports->Base);
    EXPECT_EQ(14u, exports->NumberOfFunctions);
    EXPECT_EQ(14u, exports->NumberOfNames);

    for (const ExportRow& row : kExports) {
        FARPROC byName = GetProcAddress(Plugin(), row.name);
        FARPROC byOrdinal = GetProcAddress(Plugin(), MAKEINTRESOURCEA(row.ordinal));
        EXPECT_NE(nullptr, byName) << row.name;
        EXPECT_EQ(byName, byOrdinal) << row.name << " has ordinal " << row.ordinal;
    }
}

// Called with the argument count of the host's declaration: a callee that
// popped another count off the stack would corrupt it and crash the host.
TEST_F(PluginExportsTest, CallbacksThatDoNothingAnswerZero)
{
    for (const ExportRow& row : kExports) {
        std::string name = row.name;
        if (name == "TLC_OnMenuInit" || name == "TLC_OnPlugInSetup" || name == "TLC_OnPlugInInfo")
            continue;
        int result = -1;
        switch (row.argumentCount) {
        case 0:
            result = Export<Args0>(row.name)();
            break;
        case 1:
            result = Export<Args1>(row.name)(0x11111111);
            break;
        case 2:
            result = Export<Args2>(row.name)(0x11111111, 0x22222222);
            break;
        case 3:
            result = Export<Args3>(row.name)(0x11111111, 0x22222222, 0x33333333);
            break;
        }
        EXPECT_EQ(0, result) << row.name;
    }
}

TEST_F(PluginExportsTest, InfoRecordHoldsTheFourTextsAndLeavesTheRestOfEachField)
{
    char record[4 * 80];
    std::memset(record, 0xA5, sizeof record);
    EXPECT_EQ(0, Export<Args1>("TLC_OnPlugInInfo")(reinterpret_cast<LPARAM>(record)));

    const std::string texts[] = {
        Cp932(u8"Tolvane 添付ファイル削除 plug-in"),
        "Fenmoor",
        "1.24",
        Cp932(u8"フォルダ内の添付ファイル一覧を表示し削除するツール"),
    };
    for (int field = 0; field < 4; ++field) {
        const char* start = record + field * 80;
        const std::string& text = texts[field];
        ASSERT_LT(text.size(), 80u);
        EXPECT_EQ(text, std::string(start, text.size())) << "field " << field;
        EXPECT_EQ('\0', start[text.size()]) << "field " << field;
        for (size_t i = text.size() + 1; i < 80; ++i)
            ASSERT_EQ(static_cast<char>(0xA5), start[i]) << "field " << field << " byte " << i;
    }
}

TEST_F(PluginExportsTest, VersionResourceIsJapaneseUnicode1240)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(PluginPath().c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(PluginPath().c_str(), 0, size, &data[0]));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&data[0], "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(2, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, 4), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(&data[0], "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length) << "one string table";
    EXPECT_EQ(0x0411, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    const struct {
        const char* key;
        const char* utf8;
    } strings[] = {
        {"FileVersion", "1, 2, 4, 0"},
        {"ProductVersion", "1, 2, 4, 0"},
        {"Comments", u8"添付ファイル一括削除プラグイン"},
        {"FileDescription", "Clipsum"},
        {"InternalName", "Clipsum"},
        {"OriginalFilename", "TlClipsum.dll"},
        {"ProductName", "TlClipsum"},
        {"LegalTrademarks", ""},
        {"PrivateBuild", ""},
        {"SpecialBuild", ""},
    };
    for (const auto& s : strings) {
        std::wstring key = L"\\StringFileInfo\\041104b0\\";
        for (const char* c = s.key; *c; ++c)
            key.push_back(static_cast<wchar_t>(*c));
        wchar_t* value = nullptr;
        UINT chars = 0;
        ASSERT_TRUE(VerQueryValueW(&data[0], key.c_str(), reinterpret_cast<void**>(&value), &chars)) << s.key;
        EXPECT_EQ(Cp932(s.utf8), Cp932FromWide(value)) << s.key;
    }
}

TEST_F(PluginExportsTest, ImportsOnlySystemLibraries)
{
    auto base = reinterpret_cast<const BYTE*>(Plugin());
    const IMAGE_DATA_DIRECTORY& entry = NtHeaders(Plugin())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress);
    for (; import->Name != 0; ++import) {
        std::string name = reinterpret_cast<const char*>(base + import->Name);
        for (char& c : name)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(name == "KERNEL32.DLL" || name == "USER32.DLL" || name == "MSVCRT.DLL") << name;
    }
}

// The loader's thread and detach notifications reach the entry routine; they
// must leave the plug-in working and write nothing.
TEST_F(PluginExportsTest, ThreadNotificationsAndUnloadChangeNothing)
{
    HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    char record[4 * 80] = {};
    EXPECT_EQ(0, Export<Args1>("TLC_OnPlugInInfo")(reinterpret_cast<LPARAM>(record)));
    EXPECT_STREQ("Fenmoor", record + 80);
    UnloadPlugin();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(IniPath().c_str())) << "nothing is written at load or unload";
}
