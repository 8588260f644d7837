#include "plugin/core/settings.h"

#include <cstdio>
#include <cstring>

PluginSettings g_settings;

namespace {

const char kSection[] = "Settings";
const char kBackUpKey[] = "BackUP";
const char kDeleteMsgKey[] = "DeleteMsg";
const char kHtmlMsgOffKey[] = "HtmlMsgOff";
const char kListDetailsKey[] = "ListDetails";
const char kBulkProgressKey[] = "BulkProgress";
const char kRemovedNoteKey[] = "RemovedNote";
const char kSaveFolderKey[] = "SaveFolder";
const char kIniExtension[] = ".ini";

// Start of the file name in a code page 932 path. Walked character by
// character: the trail byte of a double-byte character can be 0x5C, the
// backslash, and must not be taken for a separator.
const char* FileNamePart(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p != '\0';) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            p += 2;
            continue;
        }
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
        ++p;
    }
    return name;
}

void WriteFlag(const char* key, int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(kSection, key, text, g_settings.iniPath);
}

} // namespace

bool MakeIniPath(const char* libraryPath, char* iniPath, size_t size)
{
    const char* dot = std::strrchr(FileNamePart(libraryPath), '.');
    size_t keep = dot != nullptr ? static_cast<size_t>(dot - libraryPath) : std::strlen(libraryPath);
    size_t needed = keep + sizeof kIniExtension; // extension and terminator
    if (needed > size)
        return false;
    std::memcpy(iniPath, libraryPath, keep);
    std::memcpy(iniPath + keep, kIniExtension, sizeof kIniExtension);
    return true;
}

void LoadSettings(HINSTANCE instance)
{
    char libraryPath[MAX_PATH];
    DWORD length = GetModuleFileNameA(instance, libraryPath, sizeof libraryPath);
    // A result that fills the whole buffer has been cut short.
    bool pathComplete = length > 0 && length < sizeof libraryPath;
    if (!pathComplete || !MakeIniPath(libraryPath, g_settings.iniPath, sizeof g_settings.iniPath)) {
        g_settings.iniPath[0] = '\0';
        return;
    }
    g_settings.backUp = GetPrivateProfileIntA(kSection, kBackUpKey, 0, g_settings.iniPath);
    g_settings.deleteMsg = GetPrivateProfileIntA(kSection, kDeleteMsgKey, 0, g_settings.iniPath);
    g_settings.htmlMsgOff = GetPrivateProfileIntA(kSection, kHtmlMsgOffKey, 0, g_settings.iniPath);
    g_settings.listDetails = GetPrivateProfileIntA(kSection, kListDetailsKey, 0, g_settings.iniPath);
    g_settings.bulkProgress = GetPrivateProfileIntA(kSection, kBulkProgressKey, 0, g_settings.iniPath);
    g_settings.removedNote = GetPrivateProfileIntA(kSection, kRemovedNoteKey, 0, g_settings.iniPath);
    // A value that fills the buffer may have been cut: one byte more than
    // MAX_PATH tells a whole path from a cut one.
    DWORD folderLength = GetPrivateProfileStringA(kSection, kSaveFolderKey, "", g_settings.saveFolder,
                                                  sizeof g_settings.saveFolder, g_settings.iniPath);
    g_settings.saveFolderTooLong = folderLength >= sizeof g_settings.saveFolder - 1;
}

// Only the keys of the setup dialog: every other key of the file, ours
// included, stays as the file holds it.
void SaveSettings()
{
    if (g_settings.iniPath[0] == '\0')
        return;
    WriteFlag(kBackUpKey, g_settings.backUp);
    WriteFlag(kDeleteMsgKey, g_settings.deleteMsg);
    WriteFlag(kHtmlMsgOffKey, g_settings.htmlMsgOff);
}
