// Runs clipsum.exe as a Windows user would, from its own folder: --stdout must
// give the stripped bytes untranslated (no CR added before LF), and --in-place
// with --backup-dir must replace the file through the Windows rename, also
// when its Shift-JIS name holds a trail byte equal to the backslash. A
// temporary file of a killed run is removed by the next one. A
// read-only message is left alone unless forced, and stays read-only with its
// time of last change when it is stripped. clipsum.exe expands a wildcard
// itself, walks a Maildir, and strips a message inside an mbox. --save-dir
// saves a part under its Japanese name in Unicode.

#include "sample_messages.h"

#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr char kPlainName[] = "clipsum-win32-check.eml";
// "表.eml" in Shift-JIS: the second byte of 表 is 0x5C, the backslash.
constexpr char kJapaneseName[] = "\x95\x5c.eml";
constexpr char kReadOnlyName[] = "clipsum-win32-read-only.eml";
constexpr char kBackupDir[] = "clipsum-win32-backup";
constexpr char kJapaneseBackup[] = "clipsum-win32-backup\\\x95\x5c.eml";
// Left by a process that no longer runs: Windows process numbers are multiples of 4.
constexpr char kStaleTemp[] = "clipsum-win32-backup\\.clipsum-tmp-99999-a1B2c3";
constexpr std::size_t kMaxOutput = 64 * 1024;

char g_buffer[kMaxOutput];

bool WriteFile(const char* path, const char* bytes, std::size_t length)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool written = fwrite(bytes, 1, length, file) == length;
    return fclose(file) == 0 && written;
}

std::size_t ReadAll(FILE* stream)
{
    std::size_t length = 0;
    std::size_t got;
    while (length < kMaxOutput && (got = fread(g_buffer + length, 1, kMaxOutput - length, stream)) > 0)
        length += got;
    return length;
}

// Runs clipsum.exe with the arguments; its standard output lands in g_buffer.
bool RunClipsum(const char* arguments, std::size_t* outputLength)
{
    char command[512];
    snprintf(command, sizeof command, "clipsum.exe %s", arguments);
    FILE* output = _popen(command, "rb");
    if (!output) {
        fprintf(stderr, "cannot run %s\n", command);
        return false;
    }
    *outputLength = ReadAll(output);
    int status = _pclose(output);
    if (status != 0) {
        fprintf(stderr, "%s exited with %d\n", command, status);
        return false;
    }
    return true;
}

bool Matches(const char* what, std::size_t length, const char* expected, std::size_t expectedLength)
{
    if (length == expectedLength && memcmp(g_buffer, expected, length) == 0)
        return true;
    fprintf(stderr, "%s: expected %u bytes, got %u:\n", what, static_cast<unsigned>(expectedLength),
            static_cast<unsigned>(length));
    fwrite(g_buffer, 1, length, stderr);
    return false;
}

bool FileMatches(const char* path, const char* expected, std::size_t expectedLength)
{
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "%s is missing\n", path);
        return false;
    }
    std::size_t length = ReadAll(file);
    fclose(file);
    return Matches(path, length, expected, expectedLength);
}

bool CheckStdout()
{
    std::size_t length = 0;
    return WriteFile(kPlainName, kMultipartMessage, sizeof kMultipartMessage - 1) &&
           RunClipsum("strip --stdout clipsum-win32-check.eml", &length) &&
           Matches("--stdout", length, kStrippedMessage, sizeof kStrippedMessage - 1);
}

bool CheckInPlaceWithBackup()
{
    std::size_t length = 0;
    char arguments[256];
    snprintf(arguments, sizeof arguments, "strip --in-place --backup-dir %s %s", kBackupDir, kJapaneseName);
    _mkdir(kBackupDir);
    bool passed = WriteFile(kStaleTemp, "half a message", 14) &&
                  WriteFile(kJapaneseName, kMultipartMessage, sizeof kMultipartMessage - 1) &&
                  RunClipsum(arguments, &length) &&
                  FileMatches(kJapaneseName, kStrippedMessage, sizeof kStrippedMessage - 1) &&
                  FileMatches(kJapaneseBackup, kMultipartMessage, sizeof kMultipartMessage - 1);
    if (passed && GetFileAttributesA(kStaleTemp) != INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "the stale temporary file is still there\n");
        return false;
    }
    return passed;
}

bool GetWriteTime(const char* path, FILETIME* time)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    *time = data.ftLastWriteTime;
    return true;
}

bool SetWriteTime(const char* path, const FILETIME& time)
{
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool set = SetFileTime(file, nullptr, nullptr, &time) != 0;
    return CloseHandle(file) && set;
}

bool CheckReadOnly()
{
    std::size_t length = 0;
    FILETIME old = {0x2A4B6000, 0x01C5E3F4}; // in 2005, to the 100 ns
    FILETIME after = {};
    if (!WriteFile(kReadOnlyName, kMultipartMessage, sizeof kMultipartMessage - 1) || !SetWriteTime(kReadOnlyName, old) ||
        !SetFileAttributesA(kReadOnlyName, FILE_ATTRIBUTE_READONLY))
        return false;
    if (!RunClipsum("strip --in-place clipsum-win32-read-only.eml", &length) ||
        !FileMatches(kReadOnlyName, kMultipartMessage, sizeof kMultipartMessage - 1) ||
        !RunClipsum("strip --in-place --force clipsum-win32-read-only.eml", &length) ||
        !FileMatches(kReadOnlyName, kStrippedMessage, sizeof kStrippedMessage - 1))
        return false;
    if (!(GetFileAttributesA(kReadOnlyName) & FILE_ATTRIBUTE_READONLY)) {
        fprintf(stderr, "the forced file lost its read-only attribute\n");
        return false;
    }
    if (!GetWriteTime(kReadOnlyName, &after) || CompareFileTime(&after, &old) != 0) {
        fprintf(stderr, "the stripped file lost its time of last change\n");
        return false;
    }
    return true;
}

constexpr char kWild1[] = "clipsum-win32-wild-1.eml";
constexpr char kWild2[] = "clipsum-win32-wild-2.eml";
constexpr char kMaildir[] = "clipsum-win32-maildir";
constexpr char kMaildirMessage[] = "clipsum-win32-maildir\\new\\1614679200.M1P2.host";
constexpr char kMbox[] = "clipsum-win32.mbox";
constexpr char kEnvelope[] = "From a@example.com Tue Mar  2 10:00:00 2021\r\n";

bool CheckMailboxes()
{
    std::size_t length = 0;
    _mkdir(kMaildir);
    for (const char* part : {"\\cur", "\\new", "\\tmp"}) {
        char path[64];
        snprintf(path, sizeof path, "%s%s", kMaildir, part);
        _mkdir(path);
    }
    char mbox[sizeof kEnvelope + sizeof kMultipartMessage];
    char stripped[sizeof kEnvelope + sizeof kStrippedMessage];
    snprintf(mbox, sizeof mbox, "%s%s", kEnvelope, kMultipartMessage);
    snprintf(stripped, sizeof stripped, "%s%s", kEnvelope, kStrippedMessage);
    return WriteFile(kWild1, kMultipartMessage, sizeof kMultipartMessage - 1) &&
           WriteFile(kWild2, kMultipartMessage, sizeof kMultipartMessage - 1) &&
           WriteFile(kMaildirMessage, kMultipartMessage, sizeof kMultipartMessage - 1) &&
           WriteFile(kMbox, mbox, strlen(mbox)) &&
           RunClipsum("strip --in-place clipsum-win32-wild-*.eml clipsum-win32-maildir clipsum-win32.mbox", &length) &&
           FileMatches(kWild1, kStrippedMessage, sizeof kStrippedMessage - 1) &&
           FileMatches(kWild2, kStrippedMessage, sizeof kStrippedMessage - 1) &&
           FileMatches(kMaildirMessage, kStrippedMessage, sizeof kStrippedMessage - 1) &&
           FileMatches(kMbox, stripped, strlen(stripped));
}

constexpr char kSaveName[] = "clipsum-win32-save.eml";
constexpr char kSaveDir[] = "clipsum-win32-saved";
// "見積書.pdf", as the file must be named in Unicode whatever the ANSI code page.
constexpr wchar_t kSavedFile[] = L"clipsum-win32-saved\\\u898B\u7A4D\u66F8.pdf";
constexpr char kJapaneseAttachment[] =
    "From: sender@example.com\r\n"
    "Subject: quote\r\n"
    "Date: Tue, 02 Mar 2021 10:00:00 +0900\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
    "\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "\r\n"
    "Hello\r\n"
    "--b1\r\n"
    "Content-Type: application/pdf; name=\"=?ISO-2022-JP?B?GyRCOCtAUT1xGyhCLnBkZg==?=\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "QUJDREVGR0g=\r\n"
    "--b1--\r\n";

// --save-dir names the file in Unicode, with the decoded bytes, and the
// message keeps a note of it.
bool CheckSaveDir()
{
    std::size_t length = 0;
    _mkdir(kSaveDir);
    if (!WriteFile(kSaveName, kJapaneseAttachment, sizeof kJapaneseAttachment - 1) ||
        !RunClipsum("strip --in-place --note --save-dir clipsum-win32-saved clipsum-win32-save.eml", &length))
        return false;
    FILE* saved = _wfopen(kSavedFile, L"rb");
    if (!saved) {
        fprintf(stderr, "the attachment was not saved under its Japanese name\n");
        return false;
    }
    length = ReadAll(saved);
    fclose(saved);
    if (!Matches("the saved attachment", length, "ABCDEFGH", 8))
        return false;
    FILE* message = fopen(kSaveName, "rb");
    length = message ? ReadAll(message) : 0;
    if (message)
        fclose(message);
    g_buffer[length < kMaxOutput ? length : kMaxOutput - 1] = '\0';
    if (!strstr(g_buffer, "saved*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.pdf")) {
        fprintf(stderr, "the note does not name the saved file:\n%s\n", g_buffer);
        return false;
    }
    return true;
}

} // namespace

int main()
{
    bool passed = CheckStdout() && CheckInPlaceWithBackup() && CheckReadOnly() && CheckMailboxes() && CheckSaveDir();
    SetFileAttributesA(kReadOnlyName, FILE_ATTRIBUTE_NORMAL);
    remove(kReadOnlyName);
    remove(kPlainName);
    remove(kJapaneseName);
    remove(kJapaneseBackup);
    remove("clipsum-win32-backup\\clipsum-backups.log");
    for (const char* file : {kWild1, kWild2, kMaildirMessage, kMbox})
        remove(file);
    for (const char* folder : {"\\cur", "\\new", "\\tmp", ""}) {
        char path[64];
        snprintf(path, sizeof path, "%s%s", kMaildir, folder);
        _rmdir(path);
    }
    remove(kStaleTemp);
    remove(kSaveName);
    _wremove(kSavedFile);
    _rmdir(kSaveDir);
    _rmdir(kBackupDir);
    puts(passed ? "clipsum under Windows: passed" : "clipsum under Windows: FAILED");
    return passed ? 0 : 1;
}
