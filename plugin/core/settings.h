#pragma once
// The on/off settings, kept in an INI file beside the library that bears its
// name ("TlClipsum.dll" -> "TlClipsum.ini"), section "Settings". Read once at
// load. The setup dialog shows and writes the first three; the later ones are
// set in the file alone, and without them the plug-in behaves as it always has.

#include <windows.h>

struct PluginSettings {
    int backUp = 0;     // "BackUP": copy the untouched message into the trash first
    int deleteMsg = 0;  // "DeleteMsg": no confirmation in the bulk strip; don't reselect
    int htmlMsgOff = 0; // "HtmlMsgOff": leave messages with an HTML header alone
    int listDetails = 0;  // "ListDetails": the list shows subjects decoded, sizes and attachment names
    int bulkProgress = 0; // "BulkProgress": the bulk strip shows its progress and its result
    int removedNote = 0;  // "RemovedNote": the stripped message keeps a note of each part removed
    // "SaveFolder": the folder (ANSI code page) the removed parts are saved
    // in first; empty when not set. A value too long for the buffer is kept
    // cut, with saveFolderTooLong set: saving then fails, rather than
    // stripping without saving or saving somewhere else.
    char saveFolder[MAX_PATH + 1] = {};
    bool saveFolderTooLong = false;
    // Full path of the INI file; empty when the library's path leaves no room
    // for it, and then nothing is read or written.
    char iniPath[MAX_PATH] = {};
};

extern PluginSettings g_settings;

// Derives the INI path from the library at `instance` and reads the settings.
void LoadSettings(HINSTANCE instance);
// Writes the setup dialog's three settings in the order BackUP, DeleteMsg,
// HtmlMsgOff; every other key of the file stays.
void SaveSettings();

// The INI path for a library path: the file name's extension replaced by
// ".ini", or ".ini" appended when the file name has none. False when the
// result would not fit `size` bytes with its terminator.
bool MakeIniPath(const char* libraryPath, char* iniPath, size_t size);
