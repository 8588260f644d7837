#include <cstring>

#include "plugin/core/host_api.h"
#include "strip/strip_attachments.h"

namespace {

const char kTrashPattern[] = "*Trash";
const char kBackupFailedNotice[] = "バックアップ処理を行うことができませんでした。";

// Appends text to the NUL-terminated buffer; false when it would not fit. A
// path is never cut short: a cut path names another folder.
bool Append(char* buffer, const char* text)
{
    size_t used = std::strlen(buffer);
    size_t length = std::strlen(text);
    if (used + length >= static_cast<size_t>(kBackupPathSize))
        return false;
    std::memcpy(buffer + used, text, length + 1);
    return true;
}

int Fail()
{
    g_hostApi.SetMessageText()(nullptr, kBackupFailedNotice);
    return 0;
}

} // namespace

bool FindTrashFolder(char* buffer)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(buffer, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    // Only the first entry counts: the search order is the file system's.
    size_t nameLength = strnlen(entry.cFileName, sizeof entry.cFileName);
    if (nameLength >= static_cast<size_t>(kBackupPathSize))
        return false;
    std::memcpy(buffer, entry.cFileName, nameLength);
    buffer[nameLength] = '\0';
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int BackupToTrash(const char* mailId)
{
    // The host copies its current message, so that must be this one.
    g_hostApi.SetCurrentMail()(mailId);

    // Each host text is copied before the host is called again.
    char path[kBackupPathSize] = "";
    const char* dataFolder = g_hostApi.GetDataFolder()();
    if (dataFolder == nullptr || !Append(path, dataFolder))
        return Fail();
    const char* mailbox = g_hostApi.GetCurrentMailBox()();
    if (mailbox == nullptr || !Append(path, mailbox))
        return Fail();

    char pattern[kBackupPathSize] = "";
    if (!Append(pattern, path) || !Append(pattern, kTrashPattern))
        return Fail();
    if (!FindTrashFolder(pattern))
        return Fail();

    // The host names folders as mailbox, directory name and a backslash.
    path[0] = '\0';
    if (!Append(path, mailbox) || !Append(path, pattern) || !Append(path, "\\"))
        return Fail();
    // Only the host knows whether its copy was made: a copy it could not make
    // must stop the strip like any other failed backup.
    if (g_hostApi.MoveSelectedMessages()(path, 1) == 0)
        return Fail();
    return 1;
}
