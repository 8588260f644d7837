// Saving the removed parts (SaveFolder) and the note of them (RemovedNote)
// through the single-message command, with the test program as the host: the
// saved files against the bytes Python's email package attached
// (data/save/make_messages.py), their names, where they may go, and what is
// left when a file cannot be saved.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cp932_text.h"
#include "support/import_patch.h"
#include "support/plugin_in_host.h"
#include "support/text.h"

namespace {

const char kMixed[] = "From: sender@example.jp\r\n"
                      "Subject: Report\r\n"
                      "MIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                      "\r\n"
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

// What the user finds in the message: the text, and a note of the PDF.
const char kMixedWithNote[] = "From: sender@example.jp\r\n"
                              "Subject: Report\r\n"
                              "MIME-Version: 1.0\r\n"
                              "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                              "Content-Transfer-Encoding: 7bit\r\n"
                              "X-TlClipsum-Removed: application/pdf; name=\"report.pdf\"; size=48\r\n"
                              "\r\n"
                              "Hello,\r\n"
                              "the report is attached.\r\n";

const char kMixedStripped[] = "From: sender@example.jp\r\n"
                              "Subject: Report\r\n"
                              "MIME-Version: 1.0\r\n"
                              "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                              "Content-Transfer-Encoding: 7bit\r\n"
                              "\r\n"
                              "Hello,\r\n"
                              "the report is attached.\r\n";

std::string SaveFailedNotice()
{
    return Cp932(u8"添付ファイルを保存できませんでした。");
}

std::wstring Wide(const std::string& utf8)
{
    return WideFromCodePage(utf8, CP_UTF8);
}

// The \\?\ form of a path in the ANSI code page: the saved paths may pass MAX_PATH.
std::wstring LongPath(const std::string& ansiPath)
{
    return L"\\\\?\\" + WideFromCodePage(ansiPath, CP_ACP);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWide(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<cannot open>";
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// Every file below folder (ending in a backslash), by its path below it
// ("Main\photo.png"), with its bytes; the names as the file system gives
// them in UTF-16 (FindFirstFileW).
std::map<std::wstring, std::string> FilesUnder(const std::wstring& folder, const std::wstring& below = L"")
{
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + below + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (auto& inner : FilesUnder(folder, below + name + L"\\"))
                files.insert(std::move(inner));
        } else {
            files[below + name] = ReadWide(folder + below + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

// The last write time of each file in folder (ending in a backslash), in ticks.
std::map<std::wstring, unsigned long long> WriteTimesUnder(const std::wstring& folder)
{
    std::map<std::wstring, unsigned long long> times;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return times;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            times[found.cFileName] = (static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                     found.ftLastWriteTime.dwLowDateTime;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return times;
}

void DeleteTreeWide(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTreeWide(folder + name + L"\\");
            else
                DeleteFileW((folder + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// The files Python's email package attached to data/save/NAME.eml.
std::map<std::wstring, std::string> AttachedFiles(const std::string& message, const std::wstring& below)
{
    std::map<std::wstring, std::string> files;
    for (auto& file : FilesUnder(LongPath(SourcePath("tests/wine/data/save/files/" + message) + "\\")))
        files[below + file.first] = file.second;
    return files;
}

// A message of one text part and one 7bit part per disposition given; part n's
// body is "part n".
std::string MessageWithParts(const std::vector<std::string>& dispositions)
{
    std::string message = "Subject: hostile names\r\n"
                          "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
                          "\r\n"
                          "--b\r\n"
                          "Content-Type: text/plain\r\n"
                          "\r\n"
                          "text\r\n";
    for (size_t i = 0; i < dispositions.size(); ++i)
        message += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; " +
                   dispositions[i] + "\r\n\r\npart " + std::to_string(i) + "\r\n";
    return message + "--b--\r\n";
}

// A host whose mailbox text is the test's, and that can look at the disk
// when a new source is handed over.
class WatchingHost : public MailboxHost {
public:
    using MailboxHost::MailboxHost;
    std::string mailbox;
    std::function<void()> onSetSource;

    const char* GetCurrentMailBox() override
    {
        return mailbox.empty() ? MailboxHost::GetCurrentMailBox() : mailbox.c_str();
    }
    int SetSource(const char* mailId, const char* source) override
    {
        if (onSetSource)
            onSetSource();
        return MailboxHost::SetSource(mailId, source);
    }
};

// A disk with this much room left for the plug-in's writes.
unsigned long long g_room = 0;
FARPROC g_realWriteFile = nullptr;

BOOL WINAPI WriteFileOnAFillingDisk(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    const DWORD allowed = size < g_room ? size : static_cast<DWORD>(g_room);
    DWORD done = 0;
    BOOL ok = reinterpret_cast<decltype(&WriteFile)>(g_realWriteFile)(file, data, allowed, &done, overlapped);
    g_room -= done;
    if (written != nullptr)
        *written = done;
    if (ok && done < size) {
        SetLastError(ERROR_DISK_FULL);
        ok = FALSE;
    }
    return ok;
}

class SaveFolderTest : public PluginInHost {
protected:
    void SetUp() override
    {
        PluginInHost::SetUp();
        saveFolder_ = Root() + "saved";
    }
    void TearDown() override
    {
        PluginInHost::TearDown();
        // Paths past MAX_PATH, which the fixture's clean-up does not reach.
        DeleteTreeWide(LongPath(Root()));
    }

    // The folder named in SaveFolder (no final backslash).
    std::string saveFolder_;
    std::wstring SavedRoot() const { return LongPath(saveFolder_ + "\\"); }

    void LoadSaving(const std::string& moreSettings = "")
    {
        LoadWithSettings("SaveFolder=" + saveFolder_ + "\r\n" + moreSettings);
    }

    // Puts data/save/NAME.eml into the Inbox and strips it; returns its mail ID.
    std::string StripTestMessage(const std::string& name)
    {
        std::string id = WriteMessage(name + ".eml", ReadBytes(SourcePath("tests/wine/data/save/" + name + ".eml")));
        StripWithCommand(id);
        return id;
    }

    // What a strip that could not save leaves: the message as it was, the
    // notice, and neither the backup nor the new source asked for.
    void ExpectUnchangedWithNotice(const std::string& id, const std::string& original)
    {
        EXPECT_EQ(original, ReadMessage(id));
        ASSERT_EQ(1u, Calls("TLA_SetMessageText").size());
        EXPECT_EQ(SaveFailedNotice(), Calls("TLA_SetMessageText")[0].args.at(1));
        EXPECT_TRUE(Calls("TLA_SetSource").empty());
        EXPECT_TRUE(Calls("TLA_MoveSelectedMessages").empty());
        EXPECT_TRUE(TrashContents().empty());
    }
};

} // namespace

TEST_F(SaveFolderTest, EachAttachmentIsSavedWithTheBytesThatWereAttached)
{
    LoadSaving();
    std::string id = StripTestMessage("encodings");
    EXPECT_EQ(1u, Calls("TLA_SetSource").size());
    std::map<std::wstring, std::string> expected = AttachedFiles("encodings", L"Main\\");
    ASSERT_EQ(5u, expected.size()) << "base64, quoted-printable, 7bit, 8bit, x-uuencode as written";
    EXPECT_EQ(expected, FilesUnder(SavedRoot()));
    EXPECT_TRUE(Calls("TLA_SetMessageText").empty());

    // A download cut short: saved as far as its base64 goes, stripped, and the user told.
    StripTestMessage("broken-base64");
    EXPECT_EQ(1u, Calls("TLA_SetSource").size());
    ASSERT_EQ(1u, Calls("TLA_SetMessageText").size());
    EXPECT_EQ(Cp932(u8"壊れた添付ファイルがあり、読めた部分までを保存しました。"),
              Calls("TLA_SetMessageText")[0].args.at(1));
    for (auto& file : AttachedFiles("broken-base64", L"Main\\"))
        expected.insert(file);
    EXPECT_EQ(expected, FilesUnder(SavedRoot()));
}

TEST_F(SaveFolderTest, SavedFilesCarryTheMessagesDateOrElseTheTimeOfSaving)
{
    LoadSaving();
    StripTestMessage("encodings"); // Date: Tue, 21 May 2024 10:00:00 +0900
    const unsigned long long dated = (1716253200ULL + 11644473600ULL) * 10000000ULL;
    std::map<std::wstring, unsigned long long> times = WriteTimesUnder(SavedRoot() + L"Main\\");
    ASSERT_EQ(5u, times.size());
    for (auto& file : times)
        EXPECT_EQ(dated, file.second) << std::string(file.first.begin(), file.first.end());

    // Without a Date field a file has the time it was written.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long nowTicks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    StripWithCommand(WriteMessage("undated.eml", MessageWithParts({"filename=\"undated.bin\""})));
    times = WriteTimesUnder(SavedRoot() + L"Main\\");
    ASSERT_EQ(1u, times.count(L"undated.bin"));
    EXPECT_LT(nowTicks - 600ULL * 10000000ULL, times[L"undated.bin"]);
}

TEST_F(SaveFolderTest, JapaneseNamesAreSavedUnderTheirUnicodeNamesAndNamedInTheNote)
{
    LoadSaving("RemovedNote=1\r\n");
    std::string id = StripTestMessage("japanese-names");
    // ISO-2022-JP encoded word, RFC 2231 UTF-8, and a part without a name
    // that takes the decoded subject.
    std::map<std::wstring, std::string> expected = AttachedFiles("japanese-names", L"Main\\");
    ASSERT_EQ(3u, expected.size());
    EXPECT_EQ(expected, FilesUnder(SavedRoot()));
    EXPECT_TRUE(Exists(SavedRoot() + Wide(u8"Main\\見積書_2024年5月.pdf")));

    std::string stripped = ReadMessage(id);
    // 報告書.xlsx, as saved, and the name as the part wrote it.
    EXPECT_NE(std::string::npos, stripped.find("saved*=UTF-8''%E5%A0%B1%E5%91%8A%E6%9B%B8.xlsx")) << stripped;
    EXPECT_NE(std::string::npos, stripped.find("name=\"=?iso-2022-jp?b?GyRCSnM5cD1xGyhCLnhsc3g=?=\"")) << stripped;
    EXPECT_NE(std::string::npos, stripped.find("saved*=UTF-8''%E6%9C%88%E6%AC%A1%E5%A0%B1%E5%91%8A.pdf")) << stripped;
    EXPECT_EQ(std::string::npos, stripped.find("UEsDBBIdZrnb")) << "the attachment's body is gone";
}

TEST_F(SaveFolderTest, TheFilesAreOnDiskBeforeTheMessageChangesAndTheBackupIsMade)
{
    WatchingHost& host = InstallHost<WatchingHost>();
    std::map<std::wstring, std::string> onDisk;
    host.onSetSource = [&] { onDisk = FilesUnder(SavedRoot()); };
    LoadSaving("BackUP=1\r\n");
    std::string id = StripTestMessage("encodings");
    EXPECT_EQ(AttachedFiles("encodings", L"Main\\"), onDisk) << "whole, closed and readable when the source is set";
    std::vector<std::string> expected = {"TLA_GetCurrentMail", "TLA_GetStatus",       "TLA_GetSource",
                                         "TLA_GetCurrentMailBox", "TLA_SetCurrentMail", "TLA_GetDataFolder",
                                         "TLA_GetCurrentMailBox", "TLA_MoveSelectedMessages", "TLA_SetSource",
                                         "TLA_SetCurrentMail"};
    EXPECT_EQ(expected, CallNames());
    ASSERT_EQ(1u, TrashContents().size());
}

TEST_F(SaveFolderTest, HostileNamesStayInsideTheFolderAndNeverOverwrite)
{
    // With the mailbox and a cut name, the paths pass MAX_PATH.
    saveFolder_ = Root() + "saved-" + std::string(150, 's');
    LoadSaving("RemovedNote=1\r\n");
    std::vector<std::string> dispositions = {
        "filename=\"../../evil.txt\"",
        "filename=\"..\\\\..\\\\evil.txt\"",
        "filename=..\\..\\token.txt",
        "filename*=UTF-8''%2E%2E%2F%2E%2E%2Fencoded.txt",
        "filename=\"/etc/passwd\"",
        "filename=\"C:\\\\Windows\\\\win.ini\"",
        "filename=\"\\\\\\\\server\\\\share\\\\unc.txt\"",
        "filename=\"CON\"",
        "filename=\"con.txt\"",
        "filename=\"LPT1.log\"",
        "filename=\"...\"",
        "filename*=UTF-8''tab%09and%01control.txt",
        "filename=\"" + std::string(4996, 'a') + ".pdf\"",
        "filename=\"dup.txt\"",
        "filename=\"dup.txt\"",
        "filename=\"DUP.TXT\"",
    };
    std::string id = WriteMessage("hostile.eml", MessageWithParts(dispositions));
    StripWithCommand(id);
    ASSERT_EQ(1u, Calls("TLA_SetSource").size());

    // Nothing is written but the files in the mailbox's folder.
    const std::wstring folderName = Wide(saveFolder_.substr(Root().size())) + L"\\Main\\";
    std::set<std::string> bodies;
    std::map<std::string, std::wstring> nameOf;
    for (auto& file : FilesUnder(LongPath(Root()))) {
        if (file.first.rfind(L"data\\", 0) == 0 || file.first.rfind(L"plugin\\", 0) == 0)
            continue;
        ASSERT_EQ(0u, file.first.rfind(folderName, 0)) << Cp932FromWide(file.first);
        const std::wstring name = file.first.substr(folderName.size());
        EXPECT_EQ(std::wstring::npos, name.find_first_of(L"\\/:")) << Cp932FromWide(name);
        EXPECT_NE(L'.', name[0]);
        EXPECT_LE(name.size(), 210u);
        std::wstring stem = name.substr(0, name.find(L'.'));
        CharUpperW(&stem[0]);
        EXPECT_TRUE(stem != L"CON" && stem != L"LPT1") << "a device name: " << Cp932FromWide(name);
        EXPECT_TRUE(bodies.insert(file.second).second) << "one file per part";
        nameOf[file.second] = name;
    }
    EXPECT_EQ(dispositions.size(), bodies.size());
    EXPECT_EQ(L"dup.txt", nameOf["part 13"]);
    EXPECT_EQ(L"dup (2).txt", nameOf["part 14"]);
    EXPECT_EQ(L"DUP (3).TXT", nameOf["part 15"]) << "names differing in case only are the same name";
    EXPECT_EQ(200u, nameOf["part 12"].size());
    EXPECT_NE(std::string::npos, ReadMessage(id).find("saved=\"dup (2).txt\"")) << "the note names the file as saved";
}

TEST_F(SaveFolderTest, AMailboxNameCannotClimbOutOfTheFolder)
{
    WatchingHost& host = InstallHost<WatchingHost>();
    LoadSaving();
    const struct {
        const char* mailbox; // the host's text, code page 932
        const char* folder;  // the folder the file lands in, UTF-8
    } cases[] = {
        {"..\\..\\", "_"},
        {"..\\", "mailbox"},
        {"A\\B\\", "A_B"},
        {"C:\\", "C_"},
        {"\x95\x5C\\", u8"表"}, // a second byte that looks like a backslash
    };
    std::map<std::wstring, std::string> expected;
    int n = 0;
    for (const auto& c : cases) {
        host.mailbox = c.mailbox;
        std::string id = WriteMessage(std::to_string(++n) + ".eml", MessageWithParts({"filename=\"x.txt\""}));
        StripWithCommand(id);
        expected[Wide(c.folder) + L"\\x.txt"] = "part 0";
    }
    EXPECT_EQ(expected, FilesUnder(SavedRoot()));
}

TEST_F(SaveFolderTest, AFolderThatCannotBeUsedLeavesTheMessageUnchangedWithANotice)
{
    const std::string notAFolder = Root() + "saved";
    ASSERT_TRUE(WriteWholeFile(notAFolder, "a file", 6));
    const struct {
        const char* what;
        std::string folder;
    } cases[] = {
        {"a file, not a folder", notAFolder},
        {"a relative path", "saved"},
        {"a folder whose parent is missing", Root() + "missing\\saved"},
        {"a path too long to be read whole", Root() + std::string(300, 'x')},
        {"a device path", "\\\\.\\NUL"},
    };
    std::string id = WriteMessage("a.eml", kMixed);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        saveFolder_ = c.folder;
        LoadSaving("BackUP=1\r\n");
        StripWithCommand(id);
        ExpectUnchangedWithNotice(id, kMixed);
    }
    std::map<std::wstring, std::string> left = FilesUnder(LongPath(Root()));
    left.erase(left.lower_bound(L"data\\"), left.lower_bound(L"data]"));
    left.erase(left.lower_bound(L"plugin\\"), left.lower_bound(L"plugin]"));
    EXPECT_EQ((std::map<std::wstring, std::string>{{L"saved", "a file"}}), left) << "nothing else was written";
}

TEST_F(SaveFolderTest, AFullDiskLeavesTheMessageUnchangedAndNoFileBehind)
{
    LoadSaving("BackUP=1\r\n");
    g_realWriteFile = ReplaceImport(Plugin(), "kernel32.dll", "WriteFile",
                                    reinterpret_cast<FARPROC>(&WriteFileOnAFillingDisk));
    ASSERT_NE(nullptr, g_realWriteFile) << "the plug-in writes its files with WriteFile";
    // Room for the first file (photo.png, 3008 bytes) and part of the second.
    g_room = 3008 + 100;
    const std::string original = ReadBytes(SourcePath("tests/wine/data/save/encodings.eml"));
    std::string id = StripTestMessage("encodings");
    ExpectUnchangedWithNotice(id, original);
    EXPECT_TRUE(FilesUnder(SavedRoot()).empty());
    EXPECT_FALSE(Exists(SavedRoot())) << "the folders it made are gone too";
}

TEST_F(SaveFolderTest, AFailedBackupTakesTheSavedFilesBack)
{
    InstallHost<CopyRefusingHost>().refused = {1};
    LoadSaving("BackUP=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    EXPECT_EQ(Notices::BackupFailed(), Calls("TLA_SetMessageText").at(0).args.at(1));
    EXPECT_EQ(kMixed, ReadMessage(id));
    EXPECT_TRUE(FilesUnder(SavedRoot()).empty()) << "a second try saves them once, not twice";

    StripWithCommand(id);
    EXPECT_EQ(kMixedStripped, ReadMessage(id));
    std::map<std::wstring, std::string> saved = FilesUnder(SavedRoot());
    ASSERT_EQ(1u, saved.size());
    EXPECT_EQ(L"Main\\report.pdf", saved.begin()->first);
}

TEST_F(SaveFolderTest, TheNoteNamesTheTypeTheNameTheSizeAndTheFileSaved)
{
    LoadWithSettings("RemovedNote=1\r\n");
    std::string id = WriteMessage("a.eml", kMixed);
    StripWithCommand(id);
    EXPECT_EQ(kMixedWithNote, ReadMessage(id));
    std::vector<std::string> usual = {"TLA_GetCurrentMail", "TLA_GetStatus", "TLA_GetSource", "TLA_SetSource",
                                      "TLA_SetCurrentMail"};
    EXPECT_EQ(usual, CallNames()) << "the note asks the host for nothing more";

    // Saved twice under one name: the second file, and its note, get a number.
    LoadSaving("RemovedNote=1\r\n");
    std::string first = WriteMessage("b.eml", kMixed);
    StripWithCommand(first);
    std::string second = WriteMessage("c.eml", kMixed);
    StripWithCommand(second);
    std::string withSaved = kMixedWithNote;
    withSaved.replace(withSaved.find("size=48"), 7, "size=48;\r\n saved=\"report.pdf\"");
    EXPECT_EQ(withSaved, ReadMessage(first));
    withSaved.replace(withSaved.find("report.pdf\"\r\n\r\n"), 10, "report (2).pdf");
    EXPECT_EQ(withSaved, ReadMessage(second));
    EXPECT_EQ(2u, FilesUnder(SavedRoot()).size());

    LoadWithSettings("RemovedNote=0\r\n");
    std::string off = WriteMessage("d.eml", kMixed);
    StripWithCommand(off);
    EXPECT_EQ(kMixedStripped, ReadMessage(off));
}
